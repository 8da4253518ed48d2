#include "threading/elf_imports.h"

#include <elf.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace qtf {
namespace {

#if defined(__x86_64__)
constexpr uint32_t kJumpSlot = R_X86_64_JUMP_SLOT;
constexpr uint32_t kGlobDat = R_X86_64_GLOB_DAT;
#define QTF_HAVE_IMPORT_RELOCATIONS 1
#elif defined(__aarch64__)
constexpr uint32_t kJumpSlot = R_AARCH64_JUMP_SLOT;
constexpr uint32_t kGlobDat = R_AARCH64_GLOB_DAT;
#define QTF_HAVE_IMPORT_RELOCATIONS 1
#endif

struct Search {
  uintptr_t address = 0;
  const dl_phdr_info* found = nullptr;
  std::vector<ImportedFunction>* out = nullptr;
};

bool contains(const dl_phdr_info& info, uintptr_t address) {
  for (int i = 0; i < info.dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info.dlpi_phdr[i];
    const uintptr_t begin = info.dlpi_addr + ph.p_vaddr;
    if (ph.p_type == PT_LOAD && address >= begin && address < begin + ph.p_memsz) return true;
  }
  return false;
}

#ifdef QTF_HAVE_IMPORT_RELOCATIONS
// The dynamic linker stores some objects' dynamic entries already relocated
// and others not; a pointer below the load address is still an offset.
uintptr_t dynamic_pointer(const dl_phdr_info& info, ElfW(Addr) value) {
  return value < info.dlpi_addr ? info.dlpi_addr + value : value;
}

void collect(const dl_phdr_info& info, std::vector<ImportedFunction>& out) {
  const ElfW(Dyn)* dynamic = nullptr;
  for (int i = 0; i < info.dlpi_phnum; ++i) {
    if (info.dlpi_phdr[i].p_type == PT_DYNAMIC) {
      dynamic = reinterpret_cast<const ElfW(Dyn)*>(info.dlpi_addr + info.dlpi_phdr[i].p_vaddr);
    }
  }
  if (dynamic == nullptr) return;
  const ElfW(Sym)* symbols = nullptr;
  const char* names = nullptr;
  size_t names_size = 0;
  const ElfW(Rela)* tables[2] = {nullptr, nullptr};
  size_t table_bytes[2] = {0, 0};
  bool plt_is_rela = false;
  for (const ElfW(Dyn)* d = dynamic; d->d_tag != DT_NULL; ++d) {
    switch (d->d_tag) {
      case DT_SYMTAB: symbols = reinterpret_cast<const ElfW(Sym)*>(dynamic_pointer(info, d->d_un.d_ptr)); break;
      case DT_STRTAB: names = reinterpret_cast<const char*>(dynamic_pointer(info, d->d_un.d_ptr)); break;
      case DT_STRSZ: names_size = d->d_un.d_val; break;
      case DT_RELA: tables[0] = reinterpret_cast<const ElfW(Rela)*>(dynamic_pointer(info, d->d_un.d_ptr)); break;
      case DT_RELASZ: table_bytes[0] = d->d_un.d_val; break;
      case DT_JMPREL: tables[1] = reinterpret_cast<const ElfW(Rela)*>(dynamic_pointer(info, d->d_un.d_ptr)); break;
      case DT_PLTRELSZ: table_bytes[1] = d->d_un.d_val; break;
      case DT_PLTREL: plt_is_rela = d->d_un.d_val == DT_RELA; break;
      default: break;
    }
  }
  if (symbols == nullptr || names == nullptr) return;
  // The pages the dynamic linker made read-only (it rounds both ends down).
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  uintptr_t relro_begin = 0, relro_end = 0;
  for (int i = 0; i < info.dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info.dlpi_phdr[i];
    if (ph.p_type != PT_GNU_RELRO) continue;
    relro_begin = (info.dlpi_addr + ph.p_vaddr) & ~(page - 1);
    relro_end = (info.dlpi_addr + ph.p_vaddr + ph.p_memsz) & ~(page - 1);
  }
  if (!plt_is_rela) tables[1] = nullptr;  // these platforms use RELA only
  for (int t = 0; t < 2; ++t) {
    if (tables[t] == nullptr) continue;
    const size_t count = table_bytes[t] / sizeof(ElfW(Rela));
    for (size_t i = 0; i < count; ++i) {
      const ElfW(Rela)& r = tables[t][i];
      const uint32_t type = static_cast<uint32_t>(ELF64_R_TYPE(r.r_info));
      const size_t index = static_cast<size_t>(ELF64_R_SYM(r.r_info));
      if ((type != kJumpSlot && type != kGlobDat) || index == 0) continue;
      const ElfW(Sym)& s = symbols[index];
      const unsigned kind = ELF64_ST_TYPE(s.st_info);
      if (s.st_shndx != SHN_UNDEF || (kind != STT_FUNC && kind != STT_NOTYPE)) continue;
      if (names_size != 0 && s.st_name >= names_size) continue;
      const uintptr_t slot = info.dlpi_addr + r.r_offset;
      out.push_back({names + s.st_name, reinterpret_cast<void**>(slot), slot >= relro_begin && slot < relro_end});
    }
  }
}
#endif

int visit(dl_phdr_info* info, size_t, void* data) {
  Search& search = *static_cast<Search*>(data);
  if (!contains(*info, search.address)) return 0;
#ifdef QTF_HAVE_IMPORT_RELOCATIONS
  collect(*info, *search.out);
#endif
  return 1;
}

}  // namespace

std::vector<ImportedFunction> imported_functions(const void* address) {
  std::vector<ImportedFunction> out;
  Search search;
  search.address = reinterpret_cast<uintptr_t>(address);
  search.out = &out;
  dl_iterate_phdr(&visit, &search);
  return out;
}

bool rebind_import(const ImportedFunction& import, void* function) {
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  void* start = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(import.slot) & ~(page - 1));
  if (import.read_only && mprotect(start, page, PROT_READ | PROT_WRITE) != 0) return false;
  __atomic_store_n(import.slot, function, __ATOMIC_RELEASE);
  if (import.read_only) mprotect(start, page, PROT_READ);
  return true;
}

}  // namespace qtf
