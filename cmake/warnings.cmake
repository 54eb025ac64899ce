# Warning set shared by every target of the project (not by GoogleTest).
add_library(zr_warnings INTERFACE)
target_compile_options(zr_warnings INTERFACE
    -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
    -Wcast-align -Wformat=2 -Wno-missing-field-initializers -Wno-format-nonliteral)
if(WIN32)
    # COM interfaces have public non-virtual destructors in the Windows
    # headers, so every class that implements one trips -Wnon-virtual-dtor
    # there. The Linux build, whose interfaces protect their destructors,
    # keeps the check for the same code. (An option, not a pragma in the
    # platform header: a precompiled header does not carry pragmas.)
    target_compile_options(zr_warnings INTERFACE -Wno-non-virtual-dtor)
endif()
if(ZR_WERROR)
    target_compile_options(zr_warnings INTERFACE -Werror)
endif()
if(WIN32)
    # The system's DLL and test programs must not depend on mingw run-time DLLs.
    target_link_options(zr_warnings INTERFACE -static -static-libgcc -static-libstdc++)
    target_compile_definitions(zr_warnings INTERFACE
        _WIN32_WINNT=0x0A00 WINVER=0x0A00 NOMINMAX WIN32_LEAN_AND_MEAN)
endif()
