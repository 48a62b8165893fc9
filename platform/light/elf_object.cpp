#include "platform/light/elf_object.h"

#include <elf.h>
#include <link.h>

#include <cstdint>
#include <cstring>

// The ELF header of the running program, placed by the linker; null where a linker does not
// provide it.
extern "C" const ElfW(Ehdr) __ehdr_start __attribute__((weak, visibility("hidden")));

namespace ondevice::platform {
namespace {

using FileHeader = ElfW(Ehdr);
using ProgramHeader = ElfW(Phdr);
using DynamicEntry = ElfW(Dyn);

// Far more than any linker writes; bounds what is read of a damaged file. The dynamic string
// table is the largest: a Debug build of the module under the sanitizers exports its template
// instances, 11,000 names in 1.1 MB; the largest libraries of a Debian system hold a few MB.
constexpr unsigned kMostProgramHeaders = 64;
constexpr std::uint64_t kMostDynamicEntries = 4096;
constexpr std::uint64_t kMostStringTableBytes = 32 << 20;

struct Headers {
  FileHeader file{};
  std::vector<ProgramHeader> segments;
};

bool fits(std::uint64_t fileSize, std::uint64_t offset, std::uint64_t length) {
  return offset <= fileSize && length <= fileSize - offset;
}

// The file's ELF header and program headers, when they describe an object this program can load.
std::optional<Headers> readHeaders(const RegularFile& file) {
  const std::uint64_t fileSize = file.size();
  Headers headers;
  FileHeader& header = headers.file;
  if (!file.readExactlyAt(&header, sizeof header, 0)) return std::nullopt;
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) return std::nullopt;
  const FileHeader* own = &__ehdr_start;
  const unsigned char ownClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
  if (header.e_ident[EI_CLASS] != ownClass) return std::nullopt;
  if (own != nullptr &&
      (header.e_ident[EI_DATA] != own->e_ident[EI_DATA] || header.e_machine != own->e_machine)) {
    return std::nullopt;
  }
  if (header.e_type != ET_DYN || header.e_version != EV_CURRENT) return std::nullopt;
  if (header.e_shnum > 0 &&
      (header.e_shentsize != sizeof(ElfW(Shdr)) ||
       !fits(fileSize, header.e_shoff, std::uint64_t{header.e_shnum} * sizeof(ElfW(Shdr))))) {
    return std::nullopt;
  }
  if (header.e_phnum == 0 || header.e_phnum > kMostProgramHeaders ||
      header.e_phentsize != sizeof(ProgramHeader)) {
    return std::nullopt;
  }
  headers.segments.resize(header.e_phnum);
  const size_t tableSize = header.e_phnum * sizeof(ProgramHeader);
  if (!fits(fileSize, header.e_phoff, tableSize) ||
      !file.readExactlyAt(headers.segments.data(), tableSize, static_cast<off_t>(header.e_phoff))) {
    return std::nullopt;
  }
  for (const ProgramHeader& segment : headers.segments) {
    if (segment.p_type == PT_LOAD && !fits(fileSize, segment.p_offset, segment.p_filesz)) {
      return std::nullopt;
    }
  }
  return headers;
}

// The file offset of a virtual address inside a loaded segment's file image, with at least
// `length` bytes behind it there.
std::optional<std::uint64_t> fileOffsetOf(const Headers& headers, std::uint64_t address,
                                          std::uint64_t length) {
  for (const ProgramHeader& segment : headers.segments) {
    if (segment.p_type != PT_LOAD || address < segment.p_vaddr) continue;
    const std::uint64_t inside = address - segment.p_vaddr;
    if (fits(segment.p_filesz, inside, length)) return segment.p_offset + inside;
  }
  return std::nullopt;
}

}  // namespace

bool holdsLoadableObject(const RegularFile& file) { return readHeaders(file).has_value(); }

std::optional<LibraryNeeds> readLibraryNeeds(const RegularFile& file) {
  const auto headers = readHeaders(file);
  if (!headers) return std::nullopt;
  const ProgramHeader* dynamicSegment = nullptr;
  for (const ProgramHeader& segment : headers->segments) {
    if (segment.p_type == PT_DYNAMIC) dynamicSegment = &segment;
  }
  if (dynamicSegment == nullptr) return LibraryNeeds{};  // needs nothing
  const std::uint64_t count = dynamicSegment->p_filesz / sizeof(DynamicEntry);
  if (count > kMostDynamicEntries ||
      !fits(file.size(), dynamicSegment->p_offset, count * sizeof(DynamicEntry))) {
    return std::nullopt;
  }
  std::vector<DynamicEntry> entries(count);
  if (!file.readExactlyAt(entries.data(), count * sizeof(DynamicEntry),
                          static_cast<off_t>(dynamicSegment->p_offset))) {
    return std::nullopt;
  }

  std::uint64_t stringsAddress = 0;
  std::uint64_t stringsSize = 0;
  std::vector<std::uint64_t> neededAt;
  std::optional<std::uint64_t> rpathAt;
  std::optional<std::uint64_t> runpathAt;
  std::optional<std::uint64_t> sonameAt;
  LibraryNeeds needs;
  for (const DynamicEntry& entry : entries) {
    if (entry.d_tag == DT_NULL) break;
    switch (entry.d_tag) {
      case DT_NEEDED:
        neededAt.push_back(entry.d_un.d_val);
        break;
      case DT_RPATH:
        rpathAt = entry.d_un.d_val;
        break;
      case DT_RUNPATH:
        runpathAt = entry.d_un.d_val;
        break;
      case DT_SONAME:
        sonameAt = entry.d_un.d_val;
        break;
      case DT_STRTAB:
        stringsAddress = entry.d_un.d_ptr;
        break;
      case DT_STRSZ:
        stringsSize = entry.d_un.d_val;
        break;
      case DT_FLAGS_1:
        needs.noDefaultLibraries = (entry.d_un.d_val & DF_1_NODEFLIB) != 0;
        break;
      default:
        break;
    }
  }
  if (neededAt.empty() && !rpathAt && !runpathAt && !sonameAt) return needs;
  if (stringsSize == 0 || stringsSize > kMostStringTableBytes) return std::nullopt;
  const auto stringsOffset = fileOffsetOf(*headers, stringsAddress, stringsSize);
  if (!stringsOffset) return std::nullopt;
  std::string strings(stringsSize, '\0');
  if (!file.readExactlyAt(strings.data(), strings.size(), static_cast<off_t>(*stringsOffset))) {
    return std::nullopt;
  }
  const auto stringAt = [&](std::uint64_t offset) -> std::optional<std::string> {
    if (offset >= strings.size()) return std::nullopt;
    const auto end = strings.find('\0', offset);
    if (end == std::string::npos) return std::nullopt;
    return strings.substr(offset, end - offset);
  };
  for (const std::uint64_t offset : neededAt) {
    auto name = stringAt(offset);
    if (!name || name->empty()) return std::nullopt;
    needs.needed.push_back(std::move(*name));
  }
  if (rpathAt && !(needs.rpath = stringAt(*rpathAt))) return std::nullopt;
  if (runpathAt && !(needs.runpath = stringAt(*runpathAt))) return std::nullopt;
  if (sonameAt && !(needs.soname = stringAt(*sonameAt))) return std::nullopt;
  return needs;
}

}  // namespace ondevice::platform
