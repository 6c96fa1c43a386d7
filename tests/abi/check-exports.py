#!/usr/bin/env python3
"""Compares the symbols that a shared library exports with what its public headers declare.

Usage: check-exports.py LIBRARY CLANG NAME[,NAME...] DIR[:DIR...] -- COMPILER_FLAGS... -- HEADER...
DIR: the include folders of the public headers; COMPILER_FLAGS: what compiles them.

Clang reads the public headers (each NAME is a top-level class or namespace to look into) and
lists every function and variable declared there with its mangled name. A function that is not
defined in the header (so not inline) and not pure, and a variable that is not inline, must be
exported: else a caller would fail to link. Every exported symbol must be such a declaration,
a constructor or destructor variant of one, or the vtable or type information of a class
declared there: else the library exports an internal name. Exits 1 on any difference.
"""

import json
import re
import subprocess
import sys
import tempfile


def dump_decls(clang, flags, headers, name):
    """The JSON AST of the declarations whose qualified name contains name, in dump order."""
    with tempfile.NamedTemporaryFile('w', suffix='.cpp') as source:
        source.write(''.join(f'#include <{h}>\n' for h in headers))
        source.flush()
        out = subprocess.run([clang, '-std=c++20', '-fsyntax-only', '-Xclang', '-ast-dump=json',
                              '-Xclang', f'-ast-dump-filter={name}', *flags, source.name],
                             check=True, capture_output=True, text=True).stdout
    decoder = json.JSONDecoder()
    position = 0
    while True:
        position = out.find('{', position)
        if position < 0:
            return
        node, position = decoder.raw_decode(out, position)
        yield node


class Collector:
    """Walks the AST in dump order; clang prints a location's file only when it changes."""

    def __init__(self, header_dirs):
        self.header_dirs = header_dirs
        self.file = ''
        self.required = {}  # symbol -> description
        self.allowed = set()

    def note_location(self, location):
        if not isinstance(location, dict):
            return
        for key in ('spellingLoc', 'expansionLoc'):
            self.note_location(location.get(key))
        self.resolve(location)

    def resolve(self, location):
        """The file of a plain location, noting it; clang leaves the file out when unchanged."""
        if 'file' in location:
            self.file = location['file']
        return self.file

    def location_files(self, node):
        """Where the node is written (a macro's expansion place) and where it is spelled."""
        location = node.get('loc', {})
        if 'spellingLoc' in location or 'expansionLoc' in location:
            spelled = self.resolve(location.get('spellingLoc', {}))
            written = self.resolve(location.get('expansionLoc', {}))
        else:
            spelled = written = self.resolve(location)
        node_range = node.get('range', {})
        for end in ('begin', 'end'):
            self.note_location(node_range.get(end))
        return written, spelled

    def is_public(self, file):
        return any(file.startswith(d) for d in self.header_dirs)

    def walk(self, node):
        written, spelled = self.location_files(node)
        public = self.is_public(written)
        # Declarations that another library's macro writes (Q_OBJECT's) may be exported, and
        # that library decides which: they are allowed, not required.
        foreign = not self.is_public(spelled)
        kind = node.get('kind', '')
        inner = node.get('inner', [])
        inner_kinds = {child.get('kind') for child in inner}
        mangled = node.get('mangledName')
        hidden = any(child.get('kind') == 'VisibilityAttr' and child.get('visibility') == 'hidden'
                     for child in inner)
        if public and mangled and not node.get('isImplicit') and not hidden:
            self.add(node, kind, mangled, inner_kinds, foreign)
        if kind == 'CXXRecordDecl' and public and node.get('completeDefinition'):
            # vtable, type information and its name, by the class's own mangled name
            for child in inner:
                if child.get('kind') in ('CXXMethodDecl', 'CXXDestructorDecl') and \
                        child.get('mangledName'):
                    self.class_symbols(child['mangledName'])
                    break
        for child in inner:
            self.walk(child)

    def class_symbols(self, member):
        # _ZN<nested class name><member>...: the class's nested name is all but the last part.
        parts = self.nested_parts(member)
        if parts:
            name = ''.join(parts[:-1])
            encoded = name if len(parts) == 2 else 'N' + name + 'E'
            for prefix in ('_ZTV', '_ZTI', '_ZTS'):
                self.allowed.add(prefix + encoded)

    @staticmethod
    def nested_parts(mangled):
        """The source-name parts of a member's nested name, e.g. ['7midiout', '6Output', '6system']."""
        match = re.match(r'_ZNK?', mangled)
        if not match:
            return None
        rest = mangled[match.end():]
        parts = []
        while rest and rest[0].isdigit():
            length = re.match(r'\d+', rest).group()
            end = len(length) + int(length)
            parts.append(rest[:end])
            rest = rest[end:]
        if rest[:2] in ('C1', 'C2', 'C3', 'D0', 'D1', 'D2'):
            parts.append(rest[:2])
        return parts

    def add(self, node, kind, mangled, inner_kinds, foreign):
        name = node.get('name', mangled)
        if kind in ('FunctionDecl', 'CXXMethodDecl', 'CXXConstructorDecl', 'CXXDestructorDecl'):
            variants = {mangled}
            if kind == 'CXXConstructorDecl':
                variants |= {mangled.replace('C1E', c + 'E', 1) for c in ('C2',)}
            if kind == 'CXXDestructorDecl':
                variants |= {mangled.replace('D1E', d + 'E', 1) for d in ('D0', 'D2')}
            self.allowed |= variants
            inline = ('CompoundStmt' in inner_kinds or node.get('inline') or
                      node.get('constexpr') or node.get('pure') or
                      node.get('explicitlyDefaulted') or node.get('explicitlyDeleted') or
                      node.get('isImplicit'))
            if not inline and not foreign:
                self.required[mangled] = f'{name} ({node.get("type", {}).get("qualType", "")})'
        elif kind == 'VarDecl':
            self.allowed.add(mangled)
            if not (node.get('constexpr') or node.get('inline') or 'init' in node or foreign):
                self.required[mangled] = name


def exported_symbols(library):
    out = subprocess.run(['nm', '-D', '--defined-only', library], check=True,
                         capture_output=True, text=True).stdout
    return {line.split()[-1] for line in out.splitlines() if line.strip()}


def main():
    args = sys.argv[1:]
    library, clang, names = args[0], args[1], args[2].split(',')
    header_dirs = [d.rstrip('/') + '/' for d in args[3].split(':')]
    rest = args[4:]
    first = rest.index('--')
    second = rest.index('--', first + 1)
    flags = rest[first + 1:second]
    headers = rest[second + 1:]

    collector = Collector(header_dirs)
    for name in names:
        for node in dump_decls(clang, flags, headers, name):
            collector.walk(node)
    exported = exported_symbols(library)

    missing = sorted(set(collector.required) - exported)
    extra = sorted(exported - collector.allowed - set(collector.required))
    for symbol in missing:
        print(f'declared in a public header but not exported: {collector.required[symbol]} '
              f'[{symbol}]')
    for symbol in extra:
        demangled = subprocess.run(['c++filt', symbol], capture_output=True,
                                   text=True).stdout.strip()
        print(f'exported but not declared in a public header: {demangled} [{symbol}]')
    print(f'{len(exported)} exported symbols, {len(collector.required)} required by the public '
          f'headers, {len(missing)} missing, {len(extra)} not declared')
    return 1 if missing or extra else 0


if __name__ == '__main__':
    sys.exit(main())
