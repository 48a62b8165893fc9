#pragma once
// Whether the symbolic links under a directory stay inside it wherever the directory is later
// moved: each link is resolved component by component from the directory, following links on
// the way, and any step above the directory refuses it, even one that comes back in
// ("../model/x" from inside "model" leads elsewhere once "model" is renamed).
//
//   refuseLinksLeaving(staging / "en-us-model", "The archive for en_US", "the model directory");

#include <filesystem>
#include <string>

namespace ondevice::platform {

// Throws ArchiveFault "<label> is refused: link \"<path>\" leaves <topName>" for the first link
// that resolves outside `top`, through an absolute target, or through more than 40 links;
// PlatformError when `top` cannot be read.
void refuseLinksLeaving(const std::filesystem::path& top, const std::string& label,
                        const std::string& topName);

}  // namespace ondevice::platform
