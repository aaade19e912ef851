// The one place that names the install folder. The image, the build-time input checks and the
// shortcut writer all read it from here.
#ifndef SOLVARINE_INSTALLER_INSTALL_FOLDER_H_
#define SOLVARINE_INSTALLER_INSTALL_FOLDER_H_

#define SOLVARINE_INSTALL_FOLDER "C:\\Solvarine"

#endif  // SOLVARINE_INSTALLER_INSTALL_FOLDER_H_
