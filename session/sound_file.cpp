#include "session/sound_file.h"

#include <filesystem>
#include <system_error>

namespace tertulia {

std::string FindSoundFile(const std::string& programDirectory, const std::string& dataFromProgram,
                          const std::string& dataDirectory) {
    const std::filesystem::path program(programDirectory);
    const std::filesystem::path candidates[] = {
        program / "sonido.wav",
        (program / dataFromProgram / "sonido.wav").lexically_normal(),
        std::filesystem::path(dataDirectory) / "sonido.wav",
    };
    for (const auto& candidate : candidates) {
        std::error_code ignored;
        if (std::filesystem::is_regular_file(candidate, ignored)) return candidate.string();
    }
    return "";
}

std::string FindSoundFile(const std::string& programDirectory) {
    return FindSoundFile(programDirectory, TERTULIA_DATA_FROM_PROGRAM, TERTULIA_DATA_DIRECTORY);
}

}  // namespace tertulia
