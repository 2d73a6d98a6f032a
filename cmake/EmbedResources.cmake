# embed_resources(<target> <list file>)
#
# Makes an OBJECT library <target> whose one generated source holds the bytes
# of every file named in <list file> and registers them with
# rtl::RegisterResources at start-up. Each line of the list is
#   <TYPE> <NAME> <file relative to the list's folder>
# blank lines and lines starting with "#" are skipped. The order of the list is
# the enumeration order of the names of a type.
function(embed_resources target list_file)
    get_filename_component(list_file "${list_file}" ABSOLUTE)
    get_filename_component(list_dir "${list_file}" DIRECTORY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${list_file}")
    file(STRINGS "${list_file}" lines ENCODING UTF-8)
    set(deps "${list_file}")
    foreach(line IN LISTS lines)
        string(STRIP "${line}" line)
        if(line STREQUAL "" OR line MATCHES "^#")
            continue()
        endif()
        string(REGEX REPLACE "[ \t]+" ";" fields "${line}")
        list(LENGTH fields n)
        if(NOT n EQUAL 3)
            message(FATAL_ERROR "${list_file}: bad resource line: ${line}")
        endif()
        list(GET fields 0 type)
        list(GET fields 1 name)
        if(type MATCHES "[\"\\\\]" OR name MATCHES "[\"\\\\]")
            message(FATAL_ERROR "${list_file}: a resource type or name may not hold a quote or backslash: ${line}")
        endif()
        list(GET fields 2 file)
        list(APPEND deps "${list_dir}/${file}")
    endforeach()
    set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}.cpp")
    add_custom_command(
        OUTPUT "${out}"
        COMMAND "${CMAKE_COMMAND}" -DLIST_FILE=${list_file} -DOUT=${out}
                -P "${PARVANE_CMAKE_DIR}/GenerateResources.cmake"
        DEPENDS ${deps} "${PARVANE_CMAKE_DIR}/GenerateResources.cmake"
        COMMENT "Embedding resources of ${list_file}"
        VERBATIM)
    add_library(${target} OBJECT "${out}")
    target_link_libraries(${target} PUBLIC rtl)
endfunction()

# embed_file_version(<target> <version>)
#
# Makes an OBJECT library <target> whose one generated source registers the
# resource VERSIONINFO FILEVERSION holding the text <version>: the file version
# of the module it is linked into.
function(embed_file_version target version)
    set(FILE_VERSION "${version}")
    set(FILE_VERSION_TYPE "VERSIONINFO")
    set(FILE_VERSION_NAME "FILEVERSION")
    set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}.cpp")
    configure_file("${PARVANE_CMAKE_DIR}/FileVersion.cpp.in" "${out}" @ONLY)
    add_library(${target} OBJECT "${out}")
    target_link_libraries(${target} PUBLIC rtl)
endfunction()
