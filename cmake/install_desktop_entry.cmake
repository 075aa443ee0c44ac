# Run by `cmake --install` (and so by CPack for the package): installs the desktop entry with
# the installed program's absolute path in every Exec= line. KWin lets a program use its
# screenshot interface only when the program's desktop entry names it by that path, and the
# path is known only now: `cmake --install --prefix` can change the prefix after configuring.
# In: LUMORA_DESKTOP_SOURCE (the entry with Exec=lumora), LUMORA_DESKTOP_STAGE (a scratch
# file), LUMORA_BINDIR and LUMORA_DATADIR (relative to the prefix, or absolute).
foreach(dir LUMORA_BINDIR LUMORA_DATADIR)
    if(IS_ABSOLUTE "${${dir}}")
        set(${dir}_FULL "${${dir}}")
    else()
        set(${dir}_FULL "${CMAKE_INSTALL_PREFIX}/${${dir}}")
    endif()
endforeach()
set(program "${LUMORA_BINDIR_FULL}/lumora")
# An Exec= argument with characters the desktop entry reserves is quoted, with ", `, $ and \
# escaped inside the quotes and every \ doubled again for the entry's own escaping; % is a
# field code and is doubled.
set(exec "${program}")
if(exec MATCHES "[ \t\n\"'\\\\><~|&;$*?#()`%]")
    string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" exec "${exec}")
    string(REPLACE "\\" "\\\\" exec "${exec}")
    string(REPLACE "%" "%%" exec "${exec}")
    set(exec "\"${exec}\"")
endif()
file(READ "${LUMORA_DESKTOP_SOURCE}" entry)
# Twice: a match consumes the newline the next line's match would start with. The path goes
# in afterwards, where no regular-expression replacement reads its backslashes.
foreach(pass 1 2)
    string(REGEX REPLACE "(^|\n)Exec=lumora( |\n)" "\\1Exec=@LUMORA_EXEC@\\2" entry "${entry}")
endforeach()
string(REPLACE "@LUMORA_EXEC@" "${exec}" entry "${entry}")
if(entry MATCHES "(^|\n)Exec=lumora")
    message(FATAL_ERROR "io.lumora.Lumora.desktop: an Exec= line was left without the program's path")
endif()
get_filename_component(stage_dir "${LUMORA_DESKTOP_STAGE}" DIRECTORY)
file(MAKE_DIRECTORY "${stage_dir}")
file(WRITE "${LUMORA_DESKTOP_STAGE}" "${entry}")
file(INSTALL DESTINATION "${LUMORA_DATADIR_FULL}/applications" TYPE FILE
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
     FILES "${LUMORA_DESKTOP_STAGE}" RENAME io.lumora.Lumora.desktop)
# Installs before the application id was io.lumora.Lumora wrote lumora.desktop: the portals
# look the program up by its id now, and a second menu entry would be a stale one. Only an
# entry that an earlier install of this very program wrote (its Exec= and KWin's grant) goes.
set(old_entry "${LUMORA_DATADIR_FULL}/applications/lumora.desktop")
if(EXISTS "${old_entry}")
    file(READ "${old_entry}" old)
    string(FIND "${old}" "\nExec=${exec}\n" same_program)
    string(FIND "${old}" "X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2" ours)
    if(NOT same_program EQUAL -1 AND NOT ours EQUAL -1)
        file(REMOVE "${old_entry}")
        message(STATUS "Removed the earlier entry: ${old_entry}")
    endif()
endif()
