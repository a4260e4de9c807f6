// Loads a plug-in (plugin_host PLUGIN.so), as an image editor or a language
// runtime would, calls its entry point and prints what it answers.
#include <dlfcn.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  void* plugin = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (plugin == nullptr) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  auto entry = reinterpret_cast<int (*)()>(dlsym(plugin, "plugin_bordered_width"));
  if (entry == nullptr) return 1;
  std::printf("%d\n", entry());
  dlclose(plugin);
  return 0;
}
