# The GNUstep check build (CLIPFILES_GNUSTEP): the macOS pasteboard reader compiled and linked
# against GNUstep's AppKit and Foundation, with appkit_shim.h force-included ahead of it.
#
# gnustep-config gives the flags GNUstep's own makefiles use. Of those we keep the definitions,
# the -f options and -pthread; its include directories become system ones, so that warnings in
# GNUstep's headers are not ours. Objective-C's own headers (objc/objc.h) come with GCC, not
# clang, and are searched after clang's.
find_program(GNUSTEP_CONFIG gnustep-config REQUIRED)
execute_process(COMMAND ${GNUSTEP_CONFIG} --objc-flags OUTPUT_VARIABLE objc_flags
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${GNUSTEP_CONFIG} --gui-libs OUTPUT_VARIABLE gui_libs
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
find_program(GCC gcc REQUIRED)
execute_process(COMMAND ${GCC} -print-file-name=include OUTPUT_VARIABLE gcc_include
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
if(NOT EXISTS "${gcc_include}/objc/objc.h")
  message(FATAL_ERROR "objc/objc.h not found in ${gcc_include}: install libobjc-12-dev")
endif()

separate_arguments(objc_flags UNIX_COMMAND "${objc_flags}")
separate_arguments(gui_libs UNIX_COMMAND "${gui_libs}")
set(compile_options -fobjc-runtime=gcc -idirafter ${gcc_include})
set(include_dirs "")
foreach(flag IN LISTS objc_flags)
  if(flag MATCHES "^-I(/.+)$")
    list(APPEND include_dirs ${CMAKE_MATCH_1})
  elseif(flag MATCHES "^-(D|f)" OR flag STREQUAL "-pthread")
    list(APPEND compile_options ${flag})
  endif()
endforeach()

# Everything Objective-C++ in this build uses GNUstep through this target.
add_library(clipfiles_gnustep INTERFACE)
target_compile_options(clipfiles_gnustep INTERFACE $<$<COMPILE_LANGUAGE:OBJCXX>:${compile_options}>)
target_include_directories(clipfiles_gnustep SYSTEM INTERFACE ${include_dirs})
target_link_libraries(clipfiles_gnustep INTERFACE ${gui_libs})

# What GNUstep lacks of the API the reader uses; linked into the tool of this build only.
add_library(clipfiles_appkit_shim STATIC ${CMAKE_CURRENT_LIST_DIR}/appkit_shim.mm)
target_link_libraries(clipfiles_appkit_shim PUBLIC clipfiles_options clipfiles_gnustep)
set(CLIPFILES_APPKIT_SHIM_HEADER ${CMAKE_CURRENT_LIST_DIR}/appkit_shim.h)
