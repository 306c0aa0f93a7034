# The plug-in's start with light and heavy data files, with the real manager
# and the stand-in's Messenger API object in process (runs under Wine).
if(PARLEYM_WINDOWS AND TARGET standin_core)
  add_executable(bench_start BenchStart.cpp BenchMessenger.cpp HeavyFiles.cpp BenchFigures.cpp)
  target_include_directories(bench_start PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(bench_start PRIVATE parleym_plugin_lib standin_core)
  parleym_warnings(bench_start)
endif()
