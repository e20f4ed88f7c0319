# Run by cmake --install (and cpack): puts the package punb where the Python of the install
# prefix looks for it, unless PUNB_PYTHON_DIR says where.
if(punb_python_dir)
  set(directory "${punb_python_dir}")
elseif(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  # Debian's packages keep their Python modules there, for every Python 3 version.
  set(directory lib/python3/dist-packages)
elseif(CMAKE_INSTALL_PREFIX STREQUAL "/usr/local")
  set(directory lib/python${punb_python_version}/dist-packages)
else()
  # ~/.local/lib/python3.X/site-packages is the user's own site.
  set(directory lib/python${punb_python_version}/site-packages)
endif()
if(NOT IS_ABSOLUTE "${directory}")
  set(directory "${CMAKE_INSTALL_PREFIX}/${directory}")
endif()
file(INSTALL DESTINATION "${directory}/punb" TYPE FILE FILES ${punb_python_files})
file(INSTALL DESTINATION "${directory}/punb" TYPE MODULE FILES "${punb_python_module}")
