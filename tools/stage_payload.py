#!/usr/bin/env python3
import shutil, sys, os, argparse
ap = argparse.ArgumentParser(); ap.add_argument("--install-folder-header"); ap.add_argument("--out"); ap.add_argument("inputs", nargs=6)
a = ap.parse_args()
names = ["Solvarine.exe", "7za.exe", "Solvarine.lnk", "Solvarine_PC.pdf", "Checklist_Lightwave.txt", "Checklist_Terragen.txt"]
os.makedirs(a.out, exist_ok=True)
for n, i in zip(names, a.inputs): shutil.copyfile(i, os.path.join(a.out, n))
