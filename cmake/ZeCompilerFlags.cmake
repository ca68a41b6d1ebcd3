# Compiler and linker flags for this project's own targets. Directory-scoped:
# a parent project and imported dependencies keep their own flags.

add_compile_options(-Wall -Wextra -Wshadow -Werror=return-type -Wno-unused-parameter)
if(ZE_WERROR)
  add_compile_options(-Werror)
endif()
# GCC on ARM notes that std::vector's argument passing changed in GCC 7.1:
# everything here is built by one compiler, so the note is noise.
if(CMAKE_CXX_COMPILER_ID STREQUAL GNU AND CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
  add_compile_options(-Wno-psabi)
endif()

if(ZE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# The hardening a distribution applies to what it ships (ZE_HARDEN, set in the
# top CMakeLists.txt).
if(ZE_HARDEN)
  add_compile_options(-fstack-protector-strong -fstack-clash-protection
                      -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2)
  add_link_options(LINKER:-z,relro,-z,now)
endif()
