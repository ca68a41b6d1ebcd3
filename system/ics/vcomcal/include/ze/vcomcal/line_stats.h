#pragma once
// The line's record of the optima it has found so far: count, mean and
// variance, kept in a small JSON state file and updated after each panel.

#include <optional>
#include <string>

namespace ze {
namespace vcomcal {

class LineStats {
public:
    unsigned long count() const { return count_; }
    double mean() const { return mean_; }
    // Sample variance; 0 until two panels are in.
    double variance() const;
    // Welford's update, so that a long run does not lose precision.
    void add(double optimum);

    // A missing file is an empty record; a file that is there but unreadable
    // or malformed is an error (nullopt, *error names the file and why).
    static std::optional<LineStats> load(const std::string& path, std::string* error);
    // Replaces the file atomically (write a sibling, rename), so that a crash
    // mid-write leaves the previous record. False with *error on failure.
    bool save(const std::string& path, std::string* error) const;

private:
    unsigned long count_ = 0;
    double mean_ = 0;
    double m2_ = 0;  // sum of squared deviations from the mean
};

}  // namespace vcomcal
}  // namespace ze
