# Shared build helpers: sanitizers, optional components and test registration.

set(ARDENIX_SANITIZE "" CACHE STRING "Sanitizers to build with: address,undefined or thread")
if(ARDENIX_SANITIZE)
    add_compile_options(-fsanitize=${ARDENIX_SANITIZE} -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=${ARDENIX_SANITIZE})
    if(ARDENIX_SANITIZE MATCHES "undefined")
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()

# Qt and the other libraries are looked up once, here, so every component
# sees the same targets.
find_package(Qt5 5.15 COMPONENTS Core Gui Widgets OpenGL Multimedia Charts Sql Test LinguistTools)
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(GTest)

# Sanitizer builds run several times slower; the waits inside the tests
# (tests/TestPatience.h) and each test's own time limit stretch with them.
set(ARDENIX_TEST_PATIENCE 1)
if(ARDENIX_SANITIZE MATCHES "thread")
    set(ARDENIX_TEST_PATIENCE 4)
elseif(ARDENIX_SANITIZE)
    set(ARDENIX_TEST_PATIENCE 3)
endif()

# ardenix_test_patience(<target>): the target's waits use the build's factor.
function(ardenix_test_patience target)
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_compile_definitions(${target} PRIVATE ARDENIX_TEST_PATIENCE=${ARDENIX_TEST_PATIENCE})
endfunction()

# ardenix_component_enabled(<folder> <out-var>)
function(ardenix_component_enabled folder out)
    if(NOT ARDENIX_COMPONENTS)
        set(${out} TRUE PARENT_SCOPE)
        return()
    endif()
    foreach(c IN LISTS ARDENIX_COMPONENTS)
        string(FIND "${folder}/" "${c}/" pos)
        string(FIND "${c}/" "${folder}/" pos2)
        if(pos EQUAL 0 OR pos2 EQUAL 0)
            set(${out} TRUE PARENT_SCOPE)
            return()
        endif()
    endforeach()
    set(${out} FALSE PARENT_SCOPE)
endfunction()

# Adds a component folder when it has a CMakeLists.txt and is enabled.
function(ardenix_add_component folder)
    ardenix_component_enabled(${folder} enabled)
    if(enabled AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/CMakeLists.txt)
        add_subdirectory(${folder})
    endif()
endfunction()

# Adds every sub-folder of the current folder that has a CMakeLists.txt
# and is enabled (tools/, tests/ and simulator/ use this).
function(ardenix_add_subfolders)
    file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
    file(RELATIVE_PATH here ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    foreach(child IN LISTS children)
        if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
           AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
            ardenix_component_enabled(${here}/${child} enabled)
            if(enabled)
                add_subdirectory(${child})
            endif()
        endif()
    endforeach()
endfunction()

set(ARDENIX_TEST_OUTPUT_DIR ${CMAKE_BINARY_DIR}/tests)
set(ARDENIX_XVFB ${CMAKE_SOURCE_DIR}/scripts/with-xvfb.sh)

# ardenix_add_test(<name> SOURCES ... [LIBS ...] [GUI] [PULSE] [GTEST] [TIMEOUT s] [ENV VAR=VALUE ...])
# GTEST tests link GoogleTest's main; the others are QtTest programs.
# GUI tests run under their own Xvfb server, PULSE tests beside a sound
# server of their own (skipped where none can start).
function(ardenix_add_test name)
    cmake_parse_arguments(T "GUI;GTEST;PULSE" "TIMEOUT" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ARDENIX_TEST_OUTPUT_DIR})
    if(T_GTEST)
        target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main ${T_LIBS})
    else()
        set_target_properties(${name} PROPERTIES AUTOMOC ON)
        target_link_libraries(${name} PRIVATE Qt5::Test ${T_LIBS})
    endif()
    if(T_GUI AND T_PULSE)
        add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/scripts/with-pulse.sh ${ARDENIX_XVFB} $<TARGET_FILE:${name}>)
        set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
    elseif(T_GUI)
        add_test(NAME ${name} COMMAND ${ARDENIX_XVFB} $<TARGET_FILE:${name}>)
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    math(EXPR T_TIMEOUT "${T_TIMEOUT} * ${ARDENIX_TEST_PATIENCE}")
    ardenix_test_patience(${name})
    # Each test program keeps the pictures it makes in a folder of its own,
    # so that no window of one test finds those of another.
    set(env "XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/xdg-runtime" "ARDENIX_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
            "ARDENIX_BUILD_DIR=${CMAKE_BINARY_DIR}" "ARDENIX_SNAPSHOT_DIR=${CMAKE_BINARY_DIR}/test-shots/${name}"
            ${T_ENV})
    if(NOT T_GUI)
        list(APPEND env "QT_QPA_PLATFORM=offscreen")
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}"
                         WORKING_DIRECTORY ${ARDENIX_TEST_OUTPUT_DIR})
    if(T_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
endfunction()

file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/xdg-runtime)
file(CHMOD ${CMAKE_BINARY_DIR}/xdg-runtime DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
