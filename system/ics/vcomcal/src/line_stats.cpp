#include <ze/vcomcal/line_stats.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace ze {
namespace vcomcal {

double LineStats::variance() const
{
    return count_ < 2 ? 0.0 : m2_ / (count_ - 1);
}

void LineStats::add(double optimum)
{
    ++count_;
    const double delta = optimum - mean_;
    mean_ += delta / count_;
    m2_ += delta * (optimum - mean_);
}

std::optional<LineStats> LineStats::load(const std::string& path, std::string* error)
{
    std::ifstream in(path);
    if (!in) {
        if (errno == ENOENT) return LineStats{};
        *error = "cannot read the line state " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    try {
        const nlohmann::json state = nlohmann::json::parse(in);
        LineStats stats;
        stats.count_ = state.at("count").get<unsigned long>();
        stats.mean_ = state.at("mean").get<double>();
        const double variance = state.at("variance").get<double>();
        if (variance < 0) throw std::invalid_argument("negative variance");
        stats.m2_ = stats.count_ < 2 ? 0.0 : variance * (stats.count_ - 1);
        return stats;
    } catch (const std::exception& e) {
        *error = "malformed line state " + path + ": " + e.what() +
                 " (expected {\"count\": N, \"mean\": X, \"variance\": Y})";
        return std::nullopt;
    }
}

bool LineStats::save(const std::string& path, std::string* error) const
{
    const nlohmann::json state = {{"count", count_}, {"mean", mean_}, {"variance", variance()}};
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << state.dump() << "\n";
        out.flush();
        if (!out) {
            *error = "cannot write the line state " + temporary + ": " + std::strerror(errno);
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        *error = "cannot replace the line state " + path + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace vcomcal
}  // namespace ze
