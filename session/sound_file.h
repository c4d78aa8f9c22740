#pragma once

#include <string>

namespace tertulia {

// Where the console's notification sound "sonido.wav" is: beside the program first (a build tree
// or a copied folder), then in the data folder of the installation that the program belongs to,
// found from the program's own folder (`dataFromProgram`, relative to it), then in the data
// folder the program was built for (`dataDirectory`). Empty when none holds it.
std::string FindSoundFile(const std::string& programDirectory, const std::string& dataFromProgram,
                          const std::string& dataDirectory);

// The same with the folders of this build's installation layout.
std::string FindSoundFile(const std::string& programDirectory);

}  // namespace tertulia
