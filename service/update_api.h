#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tertulia {

// A newer build of the console that the service offers for download.
struct UpdateOffer {
    int version = 0;
    int release = 0;
    std::shared_ptr<const std::string> bytes;
    std::string digestText;

    // Reads the file once, so the digest announced always matches the bytes served. Throws
    // std::runtime_error with a message for a file that cannot be read or a bad "V.R".
    static UpdateOffer Load(const std::string& fileName, const std::string& versionText);
    // Where the file is served, from the path onwards.
    std::string DownloadPath() const;
};

// "V.R" as two non-negative integers.
std::optional<std::pair<int, int>> ParseVersion(std::string_view text);

// The update script "/gl/chkupdate.php?accion=check&prgid=..&ver=..&rel=..": "DESACTUALIZADA."
// + digest text + "," + absolute download address when an offer is newer than the caller's
// version and release, "ACTUALIZADA." otherwise, "ERROR: ..." for a malformed check.
class UpdateApi {
  public:
    // The only program the service knows.
    static constexpr const char* kProgramId = "TR";

    explicit UpdateApi(std::optional<UpdateOffer> offer) : offer_(std::move(offer)) {}

    // `origin` is "http://host:port" as the caller reached the service.
    std::string Check(std::string_view query, const std::string& origin) const;
    const std::optional<UpdateOffer>& offer() const { return offer_; }

  private:
    std::optional<UpdateOffer> offer_;
};

}  // namespace tertulia
