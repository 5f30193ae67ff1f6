# The ABI of an SDK library is what its installed headers declare.

# Writes content to file only when it differs, so that configuring again rebuilds nothing.
function(zrdevice_write_if_changed file content)
    file(WRITE ${file}.new "${content}")
    configure_file(${file}.new ${file} COPYONLY)
endfunction()

# Gives the library a linker version script made from its public headers: every symbol of a class,
# struct or namespace they define gets the version <NODE>_<SOVERSION> (such as ZRDEVICE_2);
# everything else the library exports (what the plugin module, the tools and the tests link from
# inside it, and the templates it instantiates) gets <NODE>_PRIVATE_<SOVERSION>, which promises
# nothing and which the ABI check (scripts/abi.sh) leaves out. Inline functions are not exported:
# a host compiles its own. A header added to the list is in the library's ABI at once.
function(zrdevice_symbol_versions target node)
    get_target_property(soversion ${target} SOVERSION)
    set(public)
    foreach(header ${ARGN})
        # Definitions only, such as "class X : public QObject {" or "namespace X {"; not "class X;".
        file(STRINGS ${header} lines REGEX "^(class|struct|namespace) [A-Za-z_][A-Za-z0-9_]*[^;]*$")
        foreach(line ${lines})
            string(REGEX REPLACE "^[a-z]+ ([A-Za-z0-9_]+).*" "\\1" name "${line}")
            string(APPEND public "      ${name}::*;\n")
            foreach(kind typeinfo?for typeinfo?name?for vtable?for)
                string(APPEND public "      ${kind}?${name};\n      ${kind}?${name}::*;\n")
            endforeach()
        endforeach()
    endforeach()
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}-symbols.map)
    zrdevice_write_if_changed(${script}
        "${node}_${soversion} {\n  global:\n    extern \"C++\" {\n${public}    };\n};\n${node}_PRIVATE_${soversion} {\n  global: *;\n} ${node}_${soversion};\n")
    set_target_properties(${target} PROPERTIES VISIBILITY_INLINES_HIDDEN ON)
    target_link_options(${target} PRIVATE "LINKER:--version-script=${script}")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${script})
endfunction()

# Exports nothing but what the public headers declare: the library is compiled with hidden
# visibility, and every source first includes the public headers inside a region of default
# visibility (their #pragma once keeps later includes from changing it). For a library whose
# helpers share a namespace with its API, and which nothing outside links but through that API.
function(zrdevice_hide_internals target)
    set(content "#pragma GCC visibility push(default)\n")
    foreach(header ${ARGN})
        get_filename_component(header ${header} ABSOLUTE)
        string(APPEND content "#include \"${header}\"\n")
    endforeach()
    string(APPEND content "#pragma GCC visibility pop\n")
    set(file ${CMAKE_CURRENT_BINARY_DIR}/${target}-visibility.h)
    zrdevice_write_if_changed(${file} "${content}")
    set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden)
    target_compile_options(${target} PRIVATE "SHELL:-include ${file}")
endfunction()
