#include "engine/platform/light/speech_module_loader.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/regular_file.h"
#include "engine/platform/platform_error.h"

// The ELF header of the running program, placed by the linker; null where a linker does not
// provide it.
extern "C" const ElfW(Ehdr) __ehdr_start __attribute__((weak, visibility("hidden")));

namespace ondevice::platform {
namespace {

constexpr const char* kModuleFileName = "ondevice-stt-speech.so";

std::filesystem::path modulePath() {
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) throw PlatformError("Cannot locate the running program: " + error.message());
  return executable.parent_path() / kModuleFileName;
}

// Whether `file` is a shared object that this program can load: an ELF file of the program's
// own class, byte order and machine, holding every table and loadable segment its headers list.
// A truncated copy fails here (dlopen would map the missing part and fault on it), as does
// anything that is not such an object. Costs two small reads.
bool holdsLoadableObject(const RegularFile& file) {
  const std::uint64_t fileSize = file.size();
  const auto fits = [&](std::uint64_t offset, std::uint64_t length) {
    return offset <= fileSize && length <= fileSize - offset;
  };

  ElfW(Ehdr) header{};
  if (!file.readExactlyAt(&header, sizeof header, 0)) return false;
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) return false;
  const ElfW(Ehdr)* own = &__ehdr_start;
  const unsigned char ownClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
  if (header.e_ident[EI_CLASS] != ownClass) return false;
  if (own != nullptr &&
      (header.e_ident[EI_DATA] != own->e_ident[EI_DATA] || header.e_machine != own->e_machine)) {
    return false;
  }
  if (header.e_type != ET_DYN || header.e_version != EV_CURRENT) return false;
  if (header.e_shnum > 0 &&
      (header.e_shentsize != sizeof(ElfW(Shdr)) ||
       !fits(header.e_shoff, std::uint64_t{header.e_shnum} * sizeof(ElfW(Shdr))))) {
    return false;
  }

  constexpr unsigned kMostProgramHeaders = 64;
  if (header.e_phnum == 0 || header.e_phnum > kMostProgramHeaders ||
      header.e_phentsize != sizeof(ElfW(Phdr))) {
    return false;
  }
  ElfW(Phdr) segments[kMostProgramHeaders];
  const size_t tableSize = header.e_phnum * sizeof(ElfW(Phdr));
  if (!fits(header.e_phoff, tableSize) ||
      !file.readExactlyAt(segments, tableSize, static_cast<off_t>(header.e_phoff))) {
    return false;
  }
  for (unsigned i = 0; i < header.e_phnum; ++i) {
    if (segments[i].p_type == PT_LOAD && !fits(segments[i].p_offset, segments[i].p_filesz)) {
      return false;
    }
  }
  return true;
}

bool moduleLooksLoadable(const std::filesystem::path& path) {
  const RegularFile file = RegularFile::open(path.c_str());
  return file.refusal() == RegularFile::Refusal::none && holdsLoadableObject(file);
}

SpeechModule& openModule() {
  const std::filesystem::path path = modulePath();
  if (!moduleLooksLoadable(path)) {
    throw PlatformError("The speech module could not be loaded: " + path.string() +
                        " is missing, damaged or not built for this machine");
  }
  // Kept open for the life of the process: its objects may outlive any one operation.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    throw PlatformError("The speech module could not be loaded: " +
                        std::string(reason ? reason : path.string()));
  }
  using Entry = SpeechModule* (*)();
  const auto entry = reinterpret_cast<Entry>(dlsym(handle, "ondevice_stt_speech_module"));
  if (entry == nullptr) {
    throw PlatformError("The speech module " + path.string() + " has no entry point.");
  }
  return *entry();
}

}  // namespace

SpeechModule& loadSpeechModule() {
  static SpeechModule& module = openModule();  // a failed load is tried again on the next call
  return module;
}

bool speechModuleLooksLoadable() {
  // A host asks this often, so it costs a few small reads, never a dlopen.
  try {
    return moduleLooksLoadable(modulePath());
  } catch (const PlatformError&) {
    return false;
  }
}

}  // namespace ondevice::platform
