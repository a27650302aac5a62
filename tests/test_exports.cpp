// What the built plug-in shows the host's loader: it exports the shader entry
// points under plain C names and nothing else, and it needs nothing from the
// outside but host calls and the C and maths libraries (no C++ runtime, which
// the host need not have loaded, or may have in another version).
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "refhost/refhost.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cctype>
#else
#include <cstdio>
#include <sstream>
#endif

namespace {

// Every name a shader of this library may export.
const std::set<std::string>& entry_points() {
  static const std::set<std::string> names = {
      "zel_lumenfield",
      "zel_lumenfield_init",
      "zel_lumenfield_exit",
      "zel_lumenfield_version",
      "zel_light_object",
      "zel_light_object_init",
      "zel_light_object_exit",
      "zel_light_object_version",
      "zel_lightprofile",
      "zel_lightprofile_version",
      "zel_lightprofile_utility",
      "zel_lightprofile_utility_init",
      "zel_lightprofile_utility_exit",
      "zel_lightprofile_utility_version",
  };
  return names;
}

// The host functions the library knows, from the binding list.
const std::set<std::string>& host_calls() {
  static const std::set<std::string> names = {
#define ZEL_HOST_CALL(result, name, params, args) #name,
#define ZEL_HOST_QUERY(name) #name,
#define ZEL_HOST_MESSAGE(name) #name,
#define ZEL_HOST_NUMBERED_MESSAGE(name) #name,
#include "host/host_calls.inc"
  };
  return names;
}

bool is_mangled(const std::string& name) { return name.rfind("_Z", 0) == 0; }

// Checks shared by both platforms on the names the plug-in exports.
void check_exported(const std::set<std::string>& exported, const std::set<std::string>& extra) {
  for (const std::string& name : exported) {
    EXPECT_FALSE(is_mangled(name)) << "mangled name exported: " << name;
    EXPECT_TRUE(entry_points().count(name) == 1 || extra.count(name) == 1)
        << "exported but not a shader entry point: " << name;
  }
  // The area light is always there; every shader that is answers its version.
  for (const char* name : {"zel_lumenfield", "zel_lumenfield_version"})
    EXPECT_EQ(exported.count(name), 1u) << name << " not exported";
  for (const char* shader :
       {"zel_lumenfield", "zel_light_object", "zel_lightprofile", "zel_lightprofile_utility"}) {
    if (exported.count(shader) == 1) {
      EXPECT_EQ(exported.count(std::string(shader) + "_version"), 1u)
          << shader << " exported without its version";
    }
  }
}

#if defined(_WIN32)

// The plug-in's PE image, mapped by the loader.
class Image {
 public:
  explicit Image(const std::string& path) : module_(LoadLibraryA(path.c_str())) {}
  ~Image() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  bool loaded() const { return module_ != nullptr; }

  template <typename T>
  const T* at(DWORD rva) const {
    return reinterpret_cast<const T*>(reinterpret_cast<const unsigned char*>(module_) + rva);
  }
  const IMAGE_DATA_DIRECTORY& directory(int which) const {
    const auto* dos = at<IMAGE_DOS_HEADER>(0);
    const auto* nt = at<IMAGE_NT_HEADERS>(static_cast<DWORD>(dos->e_lfanew));
    return nt->OptionalHeader.DataDirectory[which];
  }

  std::set<std::string> exports() const {
    std::set<std::string> out;
    const IMAGE_DATA_DIRECTORY& d = directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    if (d.Size == 0) return out;
    const auto* dir = at<IMAGE_EXPORT_DIRECTORY>(d.VirtualAddress);
    const auto* names = at<DWORD>(dir->AddressOfNames);
    for (DWORD i = 0; i < dir->NumberOfNames; ++i) out.insert(at<char>(names[i]));
    return out;
  }

  // Imported functions by DLL (lower-case DLL name -> function names).
  std::vector<std::pair<std::string, std::vector<std::string>>> imports() const {
    std::vector<std::pair<std::string, std::vector<std::string>>> out;
    const IMAGE_DATA_DIRECTORY& d = directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (d.Size == 0) return out;
    for (const auto* desc = at<IMAGE_IMPORT_DESCRIPTOR>(d.VirtualAddress); desc->Name != 0;
         ++desc) {
      std::string dll = at<char>(desc->Name);
      std::transform(dll.begin(), dll.end(), dll.begin(),
                     [](char c) { return static_cast<char>(std::tolower(c)); });
      std::vector<std::string> functions;
      const DWORD lookup =
          desc->OriginalFirstThunk != 0 ? desc->OriginalFirstThunk : desc->FirstThunk;
      for (const auto* thunk = at<IMAGE_THUNK_DATA>(lookup); thunk->u1.AddressOfData != 0;
           ++thunk) {
        if (IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal)) continue;
        const auto rva = static_cast<DWORD>(thunk->u1.AddressOfData);
        functions.push_back(reinterpret_cast<const char*>(at<IMAGE_IMPORT_BY_NAME>(rva)->Name));
      }
      out.emplace_back(dll, functions);
    }
    return out;
  }

 private:
  HMODULE module_;
};

TEST(Exports, PluginExportsOnlyEntryPointsAndTheModuleHandleSetter) {
  const Image image(refhost::default_plugin_path());
  ASSERT_TRUE(image.loaded()) << refhost::default_plugin_path();
  const std::set<std::string> exported = image.exports();
  EXPECT_EQ(exported.count("miSetModuleHandle"), 1u);
  check_exported(exported, {"miSetModuleHandle"});
  for (const std::string& name : exported)
    EXPECT_EQ(host_calls().count(name), 0u) << "a host call must not be exported: " << name;
}

TEST(Exports, PluginImportsOnlyFromTheSystem) {
  const Image image(refhost::default_plugin_path());
  ASSERT_TRUE(image.loaded()) << refhost::default_plugin_path();
  // The C runtime and the kernel; the compiler's own runtime is linked in.
  const std::set<std::string> system = {"kernel32.dll", "msvcrt.dll", "ucrtbase.dll"};
  for (const auto& [dll, functions] : image.imports()) {
    EXPECT_TRUE(system.count(dll) == 1 || dll.rfind("api-ms-win-crt-", 0) == 0)
        << "the plug-in needs " << dll;
    // Host calls are found at run time, never imported.
    for (const std::string& f : functions)
      EXPECT_EQ(host_calls().count(f), 0u) << f << " imported from " << dll;
  }
}

#else

struct Symbol {
  char type;
  std::string name;
  std::string version;  // after '@', if any
};

// The dynamic symbols `nm -D` lists with `options`.
std::vector<Symbol> dynamic_symbols(const std::string& options) {
  std::vector<Symbol> out;
  const std::string command =
      "nm -D " + options + " '" + refhost::default_plugin_path() + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char line[1024];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string s; words >> s;) w.push_back(s);
    if (w.size() < 2) continue;
    Symbol sym{w[w.size() - 2][0], w.back(), {}};
    if (const auto at = sym.name.find('@'); at != std::string::npos) {
      sym.version = sym.name.substr(at + 1);
      if (!sym.version.empty() && sym.version[0] == '@') sym.version.erase(0, 1);
      sym.name.resize(at);
    }
    out.push_back(sym);
  }
  if (pclose(pipe) != 0) out.clear();
  return out;
}

TEST(Exports, PluginExportsOnlyShaderEntryPoints) {
  const std::vector<Symbol> defined = dynamic_symbols("--defined-only");
  ASSERT_FALSE(defined.empty()) << "nm found no symbols in " << refhost::default_plugin_path();
  std::set<std::string> exported;
  for (const Symbol& s : defined) exported.insert(s.name);
  check_exported(exported, {});
}

TEST(Exports, PluginNeedsOnlyHostCallsAndTheCLibrary) {
  const std::vector<Symbol> undefined = dynamic_symbols("--undefined-only");
  ASSERT_FALSE(undefined.empty()) << "nm found no symbols in " << refhost::default_plugin_path();
  // Weak hooks of the C start-up code, present in every shared object.
  const std::set<std::string> startup = {"__cxa_finalize", "__gmon_start__",
                                         "_ITM_deregisterTMCloneTable",
                                         "_ITM_registerTMCloneTable"};
  // C and maths functions, for toolchains that bind them without versions.
  const std::set<std::string> c_library = {"memcpy",
                                           "memmove",
                                           "memset",
                                           "memcmp",
                                           "strlen",
                                           "strcmp",
                                           "strncmp",
                                           "strchr",
                                           "snprintf",
                                           "vsnprintf",
                                           "__stack_chk_fail",
                                           "sqrtf",
                                           "powf",
                                           "expf",
                                           "exp2f",
                                           "logf",
                                           "log2f",
                                           "log10f",
                                           "sinf",
                                           "cosf",
                                           "tanf",
                                           "asinf",
                                           "acosf",
                                           "atanf",
                                           "atan2f",
                                           "fabsf",
                                           "floorf",
                                           "ceilf",
                                           "fmodf",
                                           "sqrt",
                                           "pow",
                                           "exp",
                                           "log",
                                           "log10",
                                           "sin",
                                           "cos",
                                           "tan",
                                           "asin",
                                           "acos",
                                           "atan",
                                           "atan2",
                                           "floor",
                                           "ceil",
                                           "fmod",
                                           "sincosf",
                                           "sincos"};
  bool calls_host = false;
  for (const Symbol& s : undefined) {
    if (s.name.rfind("mi_", 0) == 0) {
      EXPECT_EQ(host_calls().count(s.name), 1u)
          << s.name << " is not in the host function list (host/host_calls.inc)";
      EXPECT_TRUE(s.version.empty()) << s.name << " bound to a library: " << s.version;
      calls_host = true;
      continue;
    }
    EXPECT_FALSE(is_mangled(s.name)) << "needs C++ runtime symbol " << s.name;
    const bool from_c =
        s.version.rfind("GLIBC_", 0) == 0 || (s.version.empty() && c_library.count(s.name) == 1);
    EXPECT_TRUE(from_c || startup.count(s.name) == 1)
        << "needs " << s.name << (s.version.empty() ? "" : "@" + s.version)
        << ", neither a host call nor from the C library";
  }
  EXPECT_TRUE(calls_host) << "host calls should stay undefined in the plug-in";
}

#endif

}  // namespace
