# Packages for people who install toneprint rather than build it:
#
#   cpack -G DEB   (Debian and the like)  toneprint_VERSION_ARCH.deb, into /usr
#   cpack -G ZIP   (a Windows build)      toneprint-VERSION-win64.zip (win32 for
#                                         a 32-bit build), the .exe files with a
#                                         README.txt, the manual as text and the
#                                         licences
#
# tools/package.sh makes both. The version is the one of project() above.

set(CPACK_PACKAGE_NAME toneprint)
set(CPACK_PACKAGE_VENDOR "The toneprint developers")
# Whoever builds packages for others names themselves here.
set(TONEPRINT_PACKAGE_MAINTAINER "toneprint maintainers <maintainers@toneprint.invalid>"
  CACHE STRING "The packages' maintainer, as Name <address>")
set(CPACK_PACKAGE_CONTACT ${TONEPRINT_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "measure the pitch and harmonics of recorded musical tones")
set(CPACK_PACKAGE_DESCRIPTION
  "toneprint measures the pitch and the harmonic content of recorded musical
tones. Record a series of notes with silence between them: toneprint splits
the recording into tones at the silences, skips each note's attack, finds
each tone's fundamental frequency and measures the amplitude of the
fundamental and of every harmonic asked for. It writes one line per tone,
with the nearest note and its deviation in cents, so that notes,
instruments or takes can be compared by numbers rather than by ear.

toneprint asks its questions on the console or in file dialogs;
toneprint-batch analyses many recordings (WAVE, FLAC, AIFF, Ogg Vorbis,
Opus, MP3) from the command line and writes CSV, JSON or a page of charts
for a browser. A Vamp plugin shows the tones, their harmonics and each
measurement pass in Sonic Visualiser and other Vamp hosts, and a page in
/usr/share/toneprint/web runs toneprint-batch's analysis in a browser,
offline.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # A folder that runs where it is unpacked: the .exe files are linked
  # statically, so nothing else is needed beside them.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(toneprint_windows_system win64)
  else()
    set(toneprint_windows_system win32)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "toneprint-${PROJECT_VERSION}-${toneprint_windows_system}")

  # The install rules above lay out bin/ and share/man/ for Unix; the zip
  # takes its own component, with the programs at its top.
  set(toneprint_windows_dir ${PROJECT_BINARY_DIR}/windows-package)

  # The manual pages as plain text for Notepad, where groff is at hand
  # (it is on any Debian machine with man-db); otherwise README.txt points
  # to --help and to the pages in the source.
  find_program(TONEPRINT_GROFF groff)
  if(TONEPRINT_GROFF)
    foreach(page toneprint toneprint-batch)
      # The page with its version (written by the install rules above).
      set(source ${PROJECT_BINARY_DIR}/man/${page}.1)
      execute_process(
        COMMAND ${CMAKE_COMMAND} -E env GROFF_NO_SGR=1
          ${TONEPRINT_GROFF} -man -Tascii -rHY=0 -dAD=l -P-c -P-b -P-u ${source}
        OUTPUT_VARIABLE text RESULT_VARIABLE status ERROR_VARIABLE errors)
      if(NOT status EQUAL 0)
        message(FATAL_ERROR "groff could not format ${source}: ${errors}")
      endif()
      string(REPLACE "\n" "\r\n" text "${text}")
      file(WRITE ${toneprint_windows_dir}/manual/${page}.txt "${text}")
      install(FILES ${toneprint_windows_dir}/manual/${page}.txt
        DESTINATION manual COMPONENT windows_zip)
    endforeach()
    set(toneprint_windows_manual
"The manual pages of both programs are in the folder manual, as text files:
manual\\toneprint.txt and manual\\toneprint-batch.txt, which describes every
option and output format of toneprint-batch. toneprint-batch --help lists
the options with their defaults and bounds.")
  else()
    message(STATUS "Windows zip: no groff, so the manual pages are left out")
    set(toneprint_windows_manual
"toneprint-batch --help lists every option with its default and bounds. The
manual pages, docs/toneprint.1 and docs/toneprint-batch.1, and the README
are in toneprint's source.")
  endif()
  # configure_file's NEWLINE_STYLE ends the template's lines, not those
  # within a value.
  string(REPLACE "\n" "\r\n" toneprint_windows_manual "${toneprint_windows_manual}")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/packaging/README.Windows.txt.in
    ${toneprint_windows_dir}/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(TARGETS toneprint toneprint-batch RUNTIME DESTINATION . COMPONENT windows_zip)
  install(FILES ${toneprint_windows_dir}/README.txt DESTINATION . COMPONENT windows_zip)
  # The licences: ours, the texts of what the programs compile in, and the
  # notices of the MinGW-w64 runtime that -static links into them, from
  # the toolchain's own copyright file.
  configure_file(${CMAKE_CURRENT_LIST_DIR}/packaging/copyright.in
    ${toneprint_windows_dir}/COPYRIGHT.txt @ONLY)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
    ${toneprint_windows_dir}/COPYRIGHT.txt DESTINATION . COMPONENT windows_zip)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/licences.md DESTINATION docs COMPONENT windows_zip)
  set(TONEPRINT_MINGW_NOTICES /usr/share/doc/mingw-w64-common/copyright CACHE FILEPATH
    "The MinGW-w64 runtime's copyright notices, which the Windows zip must carry")
  if(EXISTS ${TONEPRINT_MINGW_NOTICES})
    install(FILES ${TONEPRINT_MINGW_NOTICES} DESTINATION licences RENAME mingw-w64.txt
      COMPONENT windows_zip)
  else()
    message(WARNING "Windows zip: no ${TONEPRINT_MINGW_NOTICES}; name the MinGW-w64 runtime's "
      "copyright file in TONEPRINT_MINGW_NOTICES, which the zip must carry")
  endif()

  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL windows_zip)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_ARCHIVE_FILE_NAME ${CPACK_PACKAGE_FILE_NAME})
else()
  # The Debian package: the programs in /usr/bin, their pages in
  # /usr/share/man/man1, the browser page in /usr/share/toneprint/web, the
  # licence and changes in /usr/share/doc/toneprint (the install rules
  # above), and the README and a copyright file beside them.
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_NAME toneprint)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # No web page: the README in /usr/share/doc/toneprint is the manual's
  # companion.
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")
  # dpkg-shlibdeps names the shared libraries the programs link (libsndfile,
  # SLEEF, the C and C++ runtimes) with the versions they need.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # man-db shows the pages; toneprint opens a file chooser through zenity
  # or kdialog when it runs in a graphical session, and asks on the console
  # otherwise.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "man-db")
  # The Vamp plugin in /usr/lib/vamp needs a host: Sonic Visualiser, or
  # vamp-simple-host on the command line.
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "zenity | kdialog, sonic-visualiser | vamp-examples")

  configure_file(${CMAKE_CURRENT_LIST_DIR}/packaging/copyright.in
    ${PROJECT_BINARY_DIR}/debian-package/copyright @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/debian-package/copyright ${PROJECT_SOURCE_DIR}/README.md
    DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # One package per component: toneprint (everything without a component
  # of its own) and, where the Python module is built, python3-toneprint
  # with the package toneprint in /usr/lib/python3/dist-packages.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL Unspecified)
  set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME toneprint)
  if(TARGET toneprint_python)
    list(APPEND CPACK_COMPONENTS_ALL python)
    set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-toneprint)
    set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
    # The module is built for one Python version; numpy holds its arrays.
    # dpkg-shlibdeps adds the libraries it links.
    string(REGEX REPLACE "^([0-9]+)\\.([0-9]+)$" "\\1;\\2" toneprint_python_parts
      ${TONEPRINT_PYTHON_VERSION})
    list(GET toneprint_python_parts 0 toneprint_python_major)
    list(GET toneprint_python_parts 1 toneprint_python_minor)
    math(EXPR toneprint_python_next "${toneprint_python_minor} + 1")
    set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3 (>= ${TONEPRINT_PYTHON_VERSION}), python3 (<< ${toneprint_python_major}.${toneprint_python_next}), python3-numpy")
    # The README's example plots with matplotlib.
    set(CPACK_DEBIAN_PYTHON_PACKAGE_RECOMMENDS "python3-matplotlib")
    set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "toneprint")
    set(CPACK_DEBIAN_PYTHON_DESCRIPTION
      "measure the pitch and harmonics of musical tones from Python
The Python module toneprint measures the pitch and the harmonic content of
recorded musical tones, on numpy arrays and on files, with the analysis of
the programs in the package toneprint: it splits a recording into tones at
its silences, skips each note's attack, finds each tone's fundamental and
measures the fundamental and every harmonic asked for over frames of whole
cycles. Each tone comes with its nearest note, cents, harmonics and each
measurement pass.")
    set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA
      ${CMAKE_CURRENT_LIST_DIR}/packaging/python3-toneprint/prerm)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    install(FILES ${PROJECT_BINARY_DIR}/debian-package/copyright ${TONEPRINT_DOCUMENTS}
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/python3-toneprint COMPONENT python)
  endif()
endif()

include(CPack)
