# Statistics and offline-message stores on real compound files (runs under Wine).
if(PARLEYM_WINDOWS)
  add_executable(bench_stores BenchStores.cpp)
  target_include_directories(bench_stores PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(bench_stores PRIVATE parleym_plugin_lib)
  parleym_warnings(bench_stores)
endif()
