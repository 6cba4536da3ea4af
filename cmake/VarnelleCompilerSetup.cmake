# Compiler set-up shared by every target: ccache, sanitizers and the warning flags that apply
# to our own sources (JUCE's own code is compiled without them).

find_program(VARNELLE_CCACHE ccache)
if(VARNELLE_CCACHE)
    set(CMAKE_C_COMPILER_LAUNCHER "${VARNELLE_CCACHE}")
    set(CMAKE_CXX_COMPILER_LAUNCHER "${VARNELLE_CCACHE}")
endif()

set(VARNELLE_WARNING_FLAGS -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wno-missing-field-initializers)

if(VARNELLE_SANITIZER STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
elseif(VARNELLE_SANITIZER STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT VARNELLE_SANITIZER STREQUAL "")
    message(FATAL_ERROR "VARNELLE_SANITIZER must be empty, address or thread")
endif()

if(VARNELLE_BUILD_FUZZERS)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "The fuzz targets need clang (configure with the 'fuzz' preset)")
    endif()
    # Instrument everything the fuzzer reaches, JUCE's XML and value-tree code included.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# Turns on our warning flags for the given source files only.
function(varnelle_enable_warnings)
    set_property(SOURCE ${ARGN} APPEND PROPERTY COMPILE_OPTIONS ${VARNELLE_WARNING_FLAGS})
endfunction()
