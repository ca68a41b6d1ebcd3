#pragma once
// The line's record of the optima it has found so far: count, mean and
// variance, kept in a small JSON state file that the stations of a line share
// and update after each panel.
//
// With a half-life of H panels, a panel's weight halves with every H panels
// calibrated after it, so that the record follows a line that drifts; a
// half-life of 0 weighs every panel alike (a plain running mean). A file
// written without weights ({count, mean, variance}) is read as one whose
// panels weigh alike, as much as an endless history at the half-life at most.

#include <memory>
#include <optional>
#include <string>

namespace ze {
namespace vcomcal {

// What vcomctl uses unless told otherwise.
constexpr double kDefaultHalfLifePanels = 200;
// A state file is a few numbers; anything larger is not one.
constexpr std::size_t kMaxLineStateBytes = 4096;

class LineStats {
public:
    explicit LineStats(double halfLife = 0);

    // Panels in, whatever their weight now.
    unsigned long count() const { return count_; }
    double mean() const { return mean_; }
    // Sample variance (reliability weights); 0 until two panels are in.
    double variance() const;
    double halfLife() const { return halfLife_; }
    void add(double optimum);

    // A state file's text; nullopt with *error naming the field that is wrong.
    static std::optional<LineStats> parse(const std::string& text, double halfLife,
                                          std::string* error);
    std::string text() const;

    // A missing file is an empty record; a file that is there but unreadable,
    // a symbolic link or malformed is an error (nullopt, *error names the
    // file and why).
    static std::optional<LineStats> load(const std::string& path, std::string* error,
                                         double halfLife = 0);
    // Replaces the file: a new file of a unique name beside it, synced, renamed
    // over it, the directory synced. False with *error on failure.
    bool save(const std::string& path, std::string* error) const;

private:
    double halfLife_;
    unsigned long count_ = 0;
    double weight_ = 0;   // sum of the panels' weights
    double weight2_ = 0;  // sum of their squares
    double mean_ = 0;
    double m2_ = 0;  // weighted sum of squared deviations from the mean
};

// A state file shared by stations: changed only under the lock on
// `path`.lock (a file that is never renamed), read again under it, so that
// no station's panel is lost.
class LineStateFile {
public:
    // Reads the record (without the lock) and makes sure that a later add()
    // can write: the lock file opens and the directory takes a new file.
    static std::unique_ptr<LineStateFile> open(const std::string& path, double halfLife,
                                               std::string* error);
    ~LineStateFile();
    LineStateFile(const LineStateFile&) = delete;
    LineStateFile& operator=(const LineStateFile&) = delete;

    // The record as open() read it.
    const LineStats& stats() const { return stats_; }
    // Locks, reads the file again, adds `optimum`, replaces the file, unlocks.
    bool add(double optimum, std::string* error);

private:
    LineStateFile(std::string path, double halfLife, int lockFd, LineStats stats);

    std::string path_;
    double halfLife_;
    int lockFd_;
    LineStats stats_;
};

}  // namespace vcomcal
}  // namespace ze
