#include "evaluation/process_memory.h"
#include "common/files/folder_listing.h"

#include <unistd.h>

#include <charconv>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace pelorin::evaluation {

namespace fs = std::filesystem;

namespace {

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

std::optional<int> numberNamed(const std::string& name) {
    int value = 0;
    const auto parsed = std::from_chars(name.data(), name.data() + name.size(), value);
    if (parsed.ec != std::errc() || parsed.ptr != name.data() + name.size()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<int> parentInStat(std::string_view stat) {
    // "pid (name) state ppid ...": the name ends at the last parenthesis.
    const std::size_t close = stat.rfind(')');
    if (close == std::string_view::npos) return std::nullopt;
    std::istringstream rest{std::string(stat.substr(close + 1))};
    std::string state;
    int parent = 0;
    if (!(rest >> state >> parent)) return std::nullopt;
    return parent;
}

std::uint64_t residentBytes(int pid) {
    // statm: total and resident pages, then others.
    std::istringstream fields(firstLine(fs::path("/proc") / std::to_string(pid) / "statm"));
    std::uint64_t total = 0, resident = 0;
    if (!(fields >> total >> resident)) return 0;
    return resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

std::uint64_t treeResidentBytes(int root) {
    std::multimap<int, int> children;
    auto entries = common::listFolderEntries("/proc");
    if (!entries) return 0;
    for (const auto& entry : *entries) {
        const auto pid = numberNamed(entry.path().filename().string());
        if (!pid) continue;
        // A process may end between the listing and the read; it then simply has no parent.
        if (const auto parent = parentInStat(firstLine(entry.path() / "stat")))
            children.emplace(*parent, *pid);
    }
    std::uint64_t sum = 0;
    std::deque<int> pending = {root};
    while (!pending.empty()) {
        const int pid = pending.front();
        pending.pop_front();
        sum += residentBytes(pid);
        const auto [first, last] = children.equal_range(pid);
        for (auto child = first; child != last; ++child) pending.push_back(child->second);
    }
    return sum;
}

PeakMemorySampler::PeakMemorySampler(std::chrono::milliseconds period) {
    sample();
    thread_ = std::jthread([this, period](std::stop_token stop) {
        std::unique_lock guard(lock_);
        while (!wake_.wait_for(guard, stop, period, [&stop] { return stop.stop_requested(); })) {
            guard.unlock();
            sample();
            guard.lock();
        }
    });
}

PeakMemorySampler::~PeakMemorySampler() {
    stop();
}

void PeakMemorySampler::stop() {
    if (!thread_.joinable()) return;
    thread_.request_stop();
    thread_.join();
    sample();
}

void PeakMemorySampler::sample() {
    const std::uint64_t now = treeResidentBytes(static_cast<int>(getpid()));
    std::uint64_t seen = peak_.load();
    while (now > seen && !peak_.compare_exchange_weak(seen, now)) {
    }
}

}  // namespace pelorin::evaluation
