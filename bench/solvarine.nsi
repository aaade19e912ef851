; The same install in NSIS 3, for the bench: the same folders, removals, files, desktop file,
; message box and launches, with no page of its own. makensis -DPAYLOAD=DIR -DOUT=FILE
Unicode true
Target amd64-unicode
SetCompress off
RequestExecutionLevel user
SilentInstall silent
Name "Solvarine"
Caption "Solvarine installation"
OutFile "${OUT}"

Section
  IfFileExists "C:\Solvarine\*.*" +2
    CreateDirectory "C:\Solvarine"
  IfFileExists "C:\Solvarine\archive\*.*" +2
    CreateDirectory "C:\Solvarine\archive"
  Delete "C:\Solvarine\Checklist_Cinema4D.txt"
  Delete "C:\Solvarine\Checklist_Maya.txt"
  SetOverwrite on
  SetOutPath "C:\Solvarine"
  File "${PAYLOAD}/Solvarine.exe"
  File "${PAYLOAD}/7za.exe"
  SetOutPath "$DESKTOP"
  File "${PAYLOAD}/Solvarine.lnk"
  SetOutPath "C:\Solvarine"
  File "${PAYLOAD}/Solvarine_PC.pdf"
  File "${PAYLOAD}/Checklist_Lightwave.txt"
  File "${PAYLOAD}/Checklist_Terragen.txt"
  MessageBox MB_OK "Solvarine has been succesfully installed in C:\Solvarine.$\nA Solvarine icon has been placed on the desktop."
  Exec '"explorer.exe" C:\Solvarine'
  Exec '"C:\Solvarine\Solvarine.exe" C:\Solvarine'
SectionEnd
