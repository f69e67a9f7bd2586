#!/usr/bin/python3
"""The program's layers, drawn from the includes.

Prints which folder includes which (with the number of includes) and fails when a
header or source includes one from a higher layer, or when a library's link line
names a Qt module it should not need.

  layers.py [--source DIR] [--build-dir DIR]
"""
import argparse
import os
import re
import sys

# Bottom to top; folders on one level do not include each other.
LAYERS = [["sensorlib"], ["app"], ["sensors", "hid"], ["ui"], ["update"], ["shell"]]
# The FTP client inside update/ needs nothing above the bottom library.
FTP_CLIENT = re.compile(r"^(qftp|qurlinfo)")
# Link lines that must not carry a Qt module: (target, module).
LINK_RULES = [("tst_qftpparse", "Qt5Widgets"), ("tst_qftpparse", "Qt5Gui"),
              ("tst_settings", "Qt5Widgets"), ("tst_wring", "Qt5Widgets"),
              ("tst_hidparsing", "Qt5Widgets")]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def level_of(folder):
    for level, folders in enumerate(LAYERS):
        if folder in folders:
            return level
    return None


def main():
    parser = argparse.ArgumentParser()
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--source", default=os.path.dirname(here))
    parser.add_argument("--build-dir")
    args = parser.parse_args()

    owner = {}  # header name -> folder
    files = []
    for folders in LAYERS:
        for folder in folders:
            for root, _, names in os.walk(os.path.join(args.source, folder)):
                for name in names:
                    if name.endswith((".h", ".cpp")):
                        files.append((folder, os.path.join(root, name)))
                        if name.endswith(".h"):
                            owner[name] = folder

    edges, faults = {}, []
    for folder, path in files:
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        for included in INCLUDE.findall(text):
            target = owner.get(os.path.basename(included))
            if target is None or target == folder:
                continue
            edges[(folder, target)] = edges.get((folder, target), 0) + 1
            name = os.path.relpath(path, args.source)
            if level_of(target) >= level_of(folder):
                faults.append(f"{name} includes {included} from {target}/, not below {folder}/")
            if folder == "update" and FTP_CLIENT.match(os.path.basename(path)) and target != "app":
                faults.append(f"{name}: the FTP client includes {included} from {target}/")

    for level in reversed(range(len(LAYERS))):
        for folder in LAYERS[level]:
            below = sorted(f"{t} ({n})" for (s, t), n in edges.items() if s == folder)
            print(f"{folder:10} -> {', '.join(below) if below else '(nothing)'}")

    ninja_file = os.path.join(args.build_dir or "", "build.ninja")
    if args.build_dir and not os.path.exists(ninja_file):
        print("link lines not checked: no build.ninja in", args.build_dir)
    elif args.build_dir:
        with open(ninja_file, encoding="utf-8") as f:
            ninja = f.read()
        for target, module in LINK_RULES:
            match = re.search(r"^build tests/%s: CXX_EXECUTABLE_LINKER.*?(?=^build )" % target,
                              ninja, re.M | re.S)
            if not match:
                faults.append(f"no link line for {target} in {args.build_dir}/build.ninja")
            elif module in match.group(0):
                faults.append(f"{target} links {module}")

    for fault in faults:
        print("FAULT:", fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
