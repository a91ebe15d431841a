# How the shipped program is linked, kept in one place: kestrave_program_linking(target).

# The program runs elevated from whatever folder the user keeps it in, often one full of
# controls and DLLs. The loader looks in the program's own folder first for every DLL an exe
# imports and for everything those DLLs import in turn (version.dll, imm32.dll, ...), before
# the program runs a single line. So the program imports only KERNEL32 and msvcrt (known DLLs,
# always taken from the system) directly, and every other system DLL through delay-import
# libraries: each is loaded on its first call, after wWinMain has restricted the search to the
# system folder. Starting faster comes with it: the shell, dialog and OLE libraries are not
# loaded until a command needs them.
#
# The delay-import libraries are made at configure time from MinGW's own import libraries, so
# they offer every function those do, and are found under the same names (-luser32, ...) ahead
# of MinGW's because the program's link searches their folder first.
set(KESTRAVE_DELAY_LOADED user32 gdi32 advapi32 comctl32 comdlg32 shell32 ole32 oleaut32 oleacc
                          bcrypt)

function(kestrave_make_delay_imports folder)
  find_program(KESTRAVE_NM NAMES ${TOOLCHAIN_PREFIX}-nm REQUIRED)
  find_program(KESTRAVE_DLLTOOL NAMES ${TOOLCHAIN_PREFIX}-dlltool REQUIRED)
  file(MAKE_DIRECTORY ${folder})
  foreach(name IN LISTS KESTRAVE_DELAY_LOADED)
    set(library ${folder}/lib${name}.a)
    if(EXISTS ${library})
      continue()
    endif()
    set(import_library ${CMAKE_FIND_ROOT_PATH}/lib/lib${name}.a)
    if(NOT EXISTS ${import_library})
      message(FATAL_ERROR "No MinGW import library ${import_library}")
    endif()
    execute_process(COMMAND ${KESTRAVE_NM} ${import_library} OUTPUT_VARIABLE symbols
                    COMMAND_ERROR_IS_FATAL ANY)
    # Each function has an import slot "__imp_<symbol>" and a call thunk "<symbol>"; a slot
    # without a thunk is data, which cannot be delay-loaded and which the program does not use.
    # 32-bit symbols carry C's leading underscore, and stdcall ones their @<bytes> suffix,
    # which the name the DLL is asked for ("== name") goes without.
    string(REGEX MATCHALL "[^\n]* T [^\n]*" thunks "${symbols}")
    string(REGEX MATCHALL " I __imp_[^\n]*" slots "${symbols}")
    set(exports "")
    foreach(slot IN LISTS slots)
      string(REGEX REPLACE "^ I __imp_" "" symbol "${slot}")
      if(NOT "${thunks}" MATCHES " T ${symbol}(;|$)")
        continue()
      endif()
      # Interface and class ids are data, whatever the import library says of them; uuid.lib
      # has them too.
      if("${symbol}" MATCHES "^_?(IID|CLSID|LIBID|DIID|GUID)_")
        continue()
      endif()
      if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        string(REGEX REPLACE "^_" "" symbol "${symbol}")
        string(REGEX REPLACE "^(.+)@[0-9]+$" "\\0 == \\1" symbol "${symbol}")
      endif()
      string(APPEND exports "  ${symbol}\n")
    endforeach()
    file(WRITE ${folder}/${name}.def "LIBRARY ${name}.dll\nEXPORTS\n${exports}")
    execute_process(COMMAND ${KESTRAVE_DLLTOOL} --input-def ${folder}/${name}.def
                            --dllname ${name}.dll --output-delaylib ${library}
                    COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
endfunction()

# Calls into system DLLs go through each function's thunk rather than straight through its import
# slot. The linker drops a thunk that nothing calls by name, and binutils 2.40 treats the
# delay-import thunks like ordinary ones, though the slot starts out pointing into the thunk
# (which loads the DLL on the first call): a slot whose thunk was dropped leads to address 0.
add_compile_definitions(DECLSPEC_IMPORT=)

set(KESTRAVE_DELAY_IMPORTS ${CMAKE_BINARY_DIR}/delay-imports)
kestrave_make_delay_imports(${KESTRAVE_DELAY_IMPORTS})

function(kestrave_program_linking target)
  # The static C++ runtime brings its debug sections along; a shipped build has no use for them.
  target_link_options(${target} PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
  target_link_directories(${target} PRIVATE ${KESTRAVE_DELAY_IMPORTS})
endfunction()
