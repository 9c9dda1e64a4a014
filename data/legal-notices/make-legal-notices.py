#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Lays out the legal-notices folder of an installation: one sub-folder per
component with version.txt (the version and a line end) and license.txt.

  make-legal-notices.py OUTDIR
      --program NAME VERSION LICENSE_FILE
      --debian NAME VERSION PACKAGE FALLBACK_LICENSE ...

For a Debian component, license.txt is the package's copyright file
(/usr/share/doc/PACKAGE/copyright: copyright holders and licence terms)
followed by the full text of every licence in /usr/share/common-licenses
that the file refers to.  Where the copyright file is missing (documentation
left out of the system), the full text of FALLBACK_LICENSE from
/usr/share/common-licenses stands in ("-" for none: then the build fails).
"""
import argparse
import os
import re
import shutil
import sys

COMMON = '/usr/share/common-licenses'


def read(path):
    with open(path, encoding='utf-8', errors='replace') as f:
        return f.read()


def referenced_licences(text):
    names = []
    for match in re.finditer(re.escape(COMMON) + r'/([A-Za-z0-9.+_-]+)', text):
        name = match.group(1).rstrip('.')
        if name not in names and os.path.isfile(os.path.join(COMMON, name)):
            names.append(name)
    return names


def debian_notice(name, package, fallback):
    copyright_file = os.path.join('/usr/share/doc', package, 'copyright')
    if os.path.isfile(copyright_file):
        text = read(copyright_file)
        parts = [text.rstrip('\n') + '\n']
        licences = referenced_licences(text)
        if not licences and fallback != '-':
            licences = [fallback]
        for licence in licences:
            parts.append('\n' + '-' * 72 + '\n' + os.path.join(COMMON, licence) + ':\n\n')
            parts.append(read(os.path.join(COMMON, licence)).rstrip('\n') + '\n')
        return ''.join(parts)
    if fallback != '-' and os.path.isfile(os.path.join(COMMON, fallback)):
        return (f'{name} is distributed under the terms below ({fallback}).\n\n'
                + read(os.path.join(COMMON, fallback)).rstrip('\n') + '\n')
    sys.exit(f'make-legal-notices: no notice for {name}: {copyright_file} is missing')


def write_component(outdir, name, version, notice):
    folder = os.path.join(outdir, name)
    os.makedirs(folder)
    with open(os.path.join(folder, 'version.txt'), 'w', encoding='utf-8') as f:
        f.write(version + '\n')
    with open(os.path.join(folder, 'license.txt'), 'w', encoding='utf-8') as f:
        f.write(notice)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('outdir')
    parser.add_argument('--program', nargs=3, action='append', default=[],
                        metavar=('NAME', 'VERSION', 'LICENSE_FILE'))
    parser.add_argument('--debian', nargs=4, action='append', default=[],
                        metavar=('NAME', 'VERSION', 'PACKAGE', 'FALLBACK_LICENSE'))
    args = parser.parse_args()

    # Start afresh so that a component dropped from the build leaves no folder.
    shutil.rmtree(args.outdir, ignore_errors=True)
    os.makedirs(args.outdir)
    for name, version, licence_file in args.program:
        write_component(args.outdir, name, version, read(licence_file))
    for name, version, package, fallback in args.debian:
        write_component(args.outdir, name, version, debian_notice(name, package, fallback))


if __name__ == '__main__':
    main()
