// When this build of the tool was made, for `vellor version` (the library's
// classic build-date export keeps its constant date). In a file of its own:
// only this file is compiled anew for each build (it leaves out the heavy
// commands.h, which declares it).
namespace cli {

const char *build_time() { return __DATE__ " " __TIME__; }

}  // namespace cli
