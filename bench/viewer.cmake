# The log viewer at 10,000 conversations and the plug-in's memory with heavy
# data files, next to their floors (runs under Wine).
if(PARLEYM_WINDOWS)
  add_executable(bench_viewer BenchViewer.cpp HeavyFiles.cpp BenchFigures.cpp)
  target_include_directories(bench_viewer PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(bench_viewer PRIVATE parleym_plugin_lib psapi comctl32)
  parleym_warnings(bench_viewer)
endif()
