# Installing the four tools, their manual pages and documents, and the Debian packages built
# from the same install rules (cpack -G DEB in a build folder): punb, and punb-mpi for the MPI
# programs when the build made them, so that the tools never need MPI. The Python package
# installs by its own rules (python/).
include(GNUInstallDirs)

install(TARGETS punb punb-vectorize punb-report punb-classify RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The pages carry the project's version; nothing else in them is generated.
function(install_page page component)
  configure_file(man/${page}.1 man/${page}.1 @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT ${component})
endfunction()
foreach(page punb punb-vectorize punb-report punb-classify)
  install_page(${page} punb)
endforeach()
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(mpi_programs)
foreach(program punb-mpi punb-classify-mpi)
  if(TARGET ${program})
    list(APPEND mpi_programs ${program})
    install_page(${program} mpi)
  endif()
endforeach()
if(mpi_programs)
  install(TARGETS ${mpi_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT mpi)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGE_NAME punb)
set(CPACK_DEBIAN_PUNB_PACKAGE_NAME punb)
set(CPACK_DEBIAN_MPI_PACKAGE_NAME punb-mpi)
set(CPACK_DEBIAN_MPI_DESCRIPTION
    "punb spread over the processes of an MPI job\n\
punb-mpi and punb-classify-mpi take the command lines of punb and punb-classify\n\
and run them over the processes of an MPI job (mpirun, srun), each process\n\
reading its own part of the inputs, with the same output as one process, byte\n\
for byte.")
set(CPACK_DEBIAN_MPI_PACKAGE_RECOMMENDS "openmpi-bin")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Each package's description: its summary line, then its paragraph (CPack would put one summary
# before both).
set(CPACK_DEBIAN_PUNB_DESCRIPTION
    "text classifier learnt from positive and unlabeled documents\n\
punb learns a two-class naive Bayes text classifier from positive documents and\n\
unlabeled documents only, with no labelled negatives, and measures it on a\n\
labelled test set, in a naive Bayes baseline mode and a positive-unlabeled mode\n\
(spies, reliable negatives, EM iterations). punb-vectorize turns folders or files\n\
of UTF-8 text into its input files with a saved vocabulary; punb-report gives\n\
threshold-free figures and an SVG picture of a run; punb-classify applies a\n\
classifier kept by punb --model to new documents or text.")
if(TARGET _core)
  string(APPEND CPACK_DEBIAN_PUNB_DESCRIPTION "\n\
The Python package punb (import punb) is a scikit-learn estimator over the\n\
same core; it needs numpy, scipy and scikit-learn.")
  set(CPACK_DEBIAN_PUNB_PACKAGE_SUGGESTS "python3-numpy, python3-scipy, python3-sklearn")
endif()
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "punb maintainers <maintainers@users.noreply.c-seed-8cdbaa14.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PUNB_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_MPI_FILE_NAME DEB-DEFAULT)
# The dependencies (the C++ runtime, the machine's ICU) are read off the binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
