# Installing the four tools, their manual pages and documents, and the Debian package built
# from the same install rules (cpack -G DEB in a build folder). The Python package installs by
# its own rules (python/).
include(GNUInstallDirs)

install(TARGETS punb punb-vectorize punb-report punb-classify RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The pages carry the project's version; nothing else in them is generated.
foreach(page punb punb-vectorize punb-report punb-classify)
  configure_file(man/${page}.1 man/${page}.1 @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME punb)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "text classifier learnt from positive and unlabeled documents")
# The summary above is the first line of the package's description; this is the paragraph.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "punb learns a two-class naive Bayes text classifier from positive documents and\n\
unlabeled documents only, with no labelled negatives, and measures it on a\n\
labelled test set, in a naive Bayes baseline mode and a positive-unlabeled mode\n\
(spies, reliable negatives, EM iterations). punb-vectorize turns folders or files\n\
of UTF-8 text into its input files with a saved vocabulary; punb-report gives\n\
threshold-free figures and an SVG picture of a run; punb-classify applies a\n\
classifier kept by punb --model to new documents or text.")
if(TARGET _core)
  string(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION "\n\
The Python package punb (import punb) is a scikit-learn estimator over the\n\
same core; it needs numpy, scipy and scikit-learn.")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-numpy, python3-scipy, python3-sklearn")
endif()
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "punb maintainers <maintainers@users.noreply.c-seed-8cdbaa14.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The dependencies (the C++ runtime, the machine's ICU) are read off the binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
