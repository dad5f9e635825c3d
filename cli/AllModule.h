// `tsverify --all` runs in a module of its own, loaded only when --all is
// given: the report needs qpdf and the libraries qpdf pulls in, whose loading
// would otherwise cost every plain run a third of its start-up time.
//
// tsverify loads kAllModuleFile from the installed library folder's vrd/
// subfolder, or from beside itself in the build tree (on Windows from beside
// tsverify.exe only), and calls the entry kAllModuleEntry names with its
// unchanged command line. The entry's name
// carries the interface version, so a module of another build is refused
// rather than called.
#ifndef VRD_CLI_ALLMODULE_H_
#define VRD_CLI_ALLMODULE_H_

// What the module exports: its entry points, nothing else.
#if defined(_WIN32)
#define VRD_MODULE_EXPORT __declspec(dllexport)
#else
#define VRD_MODULE_EXPORT __attribute__((visibility("default")))
#endif

namespace vrd {
namespace cli {

#if defined(_WIN32)
constexpr char kAllModuleFile[] = "libvrd_tsverify_all.dll";
#else
constexpr char kAllModuleFile[] = "libvrd_tsverify_all.so";
#endif
constexpr char kAllModuleEntry[] = "VrdTsverifyAllMain1";

// The entry's type: the exit status of `tsverify --all` for this command line.
using AllModuleEntry = int (*)(int argc, char** argv);

}  // namespace cli
}  // namespace vrd

#endif  // VRD_CLI_ALLMODULE_H_
