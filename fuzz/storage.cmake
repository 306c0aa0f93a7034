# The look at a compound file before it is opened.
parleym_add_fuzz_target(NAME fuzz_compound_file_check SOURCES FuzzCompoundFileCheck.cpp)
