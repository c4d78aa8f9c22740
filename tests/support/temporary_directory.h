#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace tertulia::testing {

// A new directory of its own, "PREFIX-XXXXXX", removed with everything in it. It lies under
// `parent` when one is given (daemons that other users run want /tmp, large files /dev/shm),
// otherwise under $TMPDIR, or /tmp.
class TemporaryDirectory {
  public:
    explicit TemporaryDirectory(const std::string& prefix = "tertulia",
                                const std::string& parent = "") {
        const char* base = std::getenv("TMPDIR");
        const std::string under = !parent.empty() ? parent : base && base[0] ? base : "/tmp";
        std::string pattern = under + "/" + prefix + "-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            throw std::runtime_error("cannot make a directory under " + under);
        }
        path_ = pattern;
    }
    ~TemporaryDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace tertulia::testing
