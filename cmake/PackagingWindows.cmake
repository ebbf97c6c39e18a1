# The operators' zip: `cpack` in build-win32/ (build-win64/) makes patch16-<version>-win32.zip
# (-win64.zip) of everything `cmake --install` installs, all at the zip's root: patch16.exe once
# the window's target exists, patch16-check.exe, patch16-sample.exe and the Russian instruction
# README-RU.txt. The programs are static (see cmake/mingw-common.cmake), so no DLL goes with them.

if(PATCH16_MINGW_PROCESSOR STREQUAL "i686")
    set(patch16_windows_flavour win32)
else()
    set(patch16_windows_flavour win64)
endif()

# The instruction is shipped byte for byte: UTF-8 with a BOM and CRLF line ends, which Notepad
# shows correctly from Windows 7 on; its name is ASCII, since Explorer may garble others in zips.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/README-RU.txt DESTINATION .)

# The window's program joins the zip as soon as its target exists, wherever it is defined: the
# check runs once the whole project has been read.
function(patch16_install_window)
    if(TARGET patch16)
        install(TARGETS patch16 RUNTIME DESTINATION .)
    endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL patch16_install_window)

set(CPACK_PACKAGE_NAME patch16)
set(CPACK_PACKAGE_FILE_NAME patch16-${PROJECT_VERSION}-${patch16_windows_flavour})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR ZIP)
include(CPack)
