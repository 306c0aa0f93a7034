# The object cache's open next to its floor (runs under Wine).
if(PARLEYM_WINDOWS)
  add_executable(bench_objcache BenchObjectCache.cpp HeavyFiles.cpp BenchFigures.cpp)
  target_include_directories(bench_objcache PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(bench_objcache PRIVATE parleym_plugin_lib)
  parleym_warnings(bench_objcache)
endif()
