#!/usr/bin/env python3
"""Static checks of a built setup.exe and its stub library, or of the self-extractor, read
straight from the PE files.

    check_setup_exe.py --bits 32|64 --exe setup.exe --stub TQSHLSTB.dll --manifest setup.manifest
                       --resource-header resource.h [--max-size BYTES --stub-max-size BYTES]
                       [--check NAME ...]
    check_setup_exe.py --program sfx --bits 32|64 --exe tqsfx.exe --manifest sfx.manifest
                       --resource-header resource.h --max-size BYTES [--check NAME ...]

Checks (all when none is named):
  format     PE32 for 32 bits (i386), PE32+ for 64 bits (x86-64), GUI subsystem
  imports    setup.exe and the stub import only from system libraries, and none of the
             functions that older Windows lacks
  manifest   exactly one manifest, byte for byte our own: common controls 6.0.0.0, DPI aware,
             supported OS list, no requested execution level
  strings    the string table holds every ID of resource.h and the continuation IDs; 1021 is
             "Tessel Setup"
  dialogs    dialog templates 100 and 300
  stub       resource "TQSHLEXT"/"TQ_SHL" equals the built stub library, which is a DLL of the
             same machine whose version record has no part above 20
  icon       icon group 10 and every icon it names
  version    a version record for setup.exe
  size       each program's size is printed and at most --max-size (the stub: --stub-max-size)
             bytes; for the self-extractor that is the program without an archive
  debug      what ships holds no debug sections and no symbol table, and ends where its last
             section ends; the debug information lies beside it in FILE.debug
For the self-extractor, which runs from the download folder, "system libraries" are the ones
Windows always loads from the system folder (COMCTL32 is not among them), and no function that
starts a thread may be imported: it runs single-threaded, also under 32-bit Wine through
qemu-i386, where the threads of 32-bit programs crash. Its strings are its own IDS_SFX_* and the
extraction engine's 1030 to 1037; its dialog is template 400.
The PE layout follows the Microsoft PE/COFF specification (optional header, data directories,
import descriptors, resource directory tables).
"""
import argparse
import re
import struct
import sys

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24
# VERSION.DLL is missing on purpose: setup binds it at run time, so that no library of that name
# is loaded from setup's own folder.
SYSTEM_LIBRARIES = {'KERNEL32.DLL', 'USER32.DLL', 'GDI32.DLL', 'ADVAPI32.DLL', 'COMCTL32.DLL', 'MSVCRT.DLL'}
# Libraries that Windows loads from the system folder whatever the search order (KnownDLLs).
KNOWN_LIBRARIES = {'KERNEL32.DLL', 'USER32.DLL', 'GDI32.DLL', 'ADVAPI32.DLL', 'MSVCRT.DLL'}
THREAD_FUNCTIONS = {'CreateThread', 'CreateRemoteThread', '_beginthread', '_beginthreadex'}
ENGINE_STRING_IDS = list(range(1030, 1038))
CONTINUATION_IDS = [1040, 1041, 1042, 1045, 1047, 1048]
# Functions that the oldest Windows the version check admits lacks, which must therefore never be
# imported statically (they are looked up at run time where they are wanted). Not complete: the
# ones a Win32 program of today reaches for without noticing.
NEWER_FUNCTIONS = {
    'GetTickCount64', 'SetDefaultDllDirectories', 'AddDllDirectory', 'SetDllDirectoryA',
    'SetDllDirectoryW', 'GetModuleHandleExA', 'GetModuleHandleExW', 'RegDeleteTreeA',
    'RegDeleteTreeW', 'RegGetValueA', 'RegGetValueW', 'IsWow64Process', 'GetNativeSystemInfo',
    'InitializeCriticalSectionEx', 'InitOnceExecuteOnce', 'FlsAlloc', 'CreateFile2',
    'GetFileInformationByHandleEx', 'GetSystemTimePreciseAsFileTime', 'SetThreadDescription',
    'Wow64DisableWow64FsRedirection', 'CompareStringEx', 'GetFileSizeEx', 'SetFilePointerEx',
    'GetVersionExW', 'VerifyVersionInfoA', 'SHGetFolderPathA', 'SHGetKnownFolderPath',
    'SetProcessDPIAware', 'SetProcessDpiAwarenessContext', 'InitCommonControlsEx',
}


class Pe:
    def __init__(self, path):
        with open(path, 'rb') as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b'MZ':
            raise ValueError(f'{path}: no MZ header')
        self.pe = struct.unpack_from('<I', d, 0x3C)[0]
        if d[self.pe:self.pe + 4] != b'PE\0\0':
            raise ValueError(f'{path}: no PE signature')
        coff = self.pe + 4
        (self.machine, sections, _, self.symbol_table, self.symbol_count, optional_size,
         self.characteristics) = struct.unpack_from('<HHIIIHH', d, coff)
        self.optional = coff + 20
        self.magic = struct.unpack_from('<H', d, self.optional)[0]
        self.subsystem = struct.unpack_from('<H', d, self.optional + 68)[0]
        directories = self.optional + (96 if self.magic == 0x10B else 112)
        count = struct.unpack_from('<I', d, directories - 4)[0]
        self.directories = [struct.unpack_from('<II', d, directories + 8 * i) for i in range(count)]
        self.sections = []
        self.section_names = []
        self.raw_end = 0
        table = self.optional + optional_size
        for i in range(sections):
            name, vsize, rva, raw_size, raw = struct.unpack_from('<8sIIII', d, table + 40 * i)
            self.sections.append((rva, max(vsize, raw_size), raw))
            self.section_names.append(self.section_name(name.rstrip(b'\0').decode('ascii', 'replace')))
            if raw_size:
                self.raw_end = max(self.raw_end, raw + raw_size)

    def section_name(self, name):
        """A name longer than eight bytes is "/offset" into the COFF string table, which
        follows the symbol table (18 bytes a symbol)."""
        if not name.startswith('/') or not self.symbol_table:
            return name
        at = self.symbol_table + 18 * self.symbol_count + int(name[1:])
        end = self.data.find(b'\0', at)
        return self.data[at:end].decode('ascii', 'replace') if 0 <= at < end else name

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f'RVA {rva:#x} lies in no section')

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b'\0', at)].decode('ascii')

    def imports(self):
        """{library: [function names]}; functions imported by ordinal are left out."""
        rva, size = self.directories[1]
        libraries = {}
        if not rva:
            return libraries
        wide = self.magic == 0x20B
        entry_size, ordinal_flag = (8, 1 << 63) if wide else (4, 1 << 31)
        at = self.offset(rva)
        while True:
            lookup, _, _, name, thunk = struct.unpack_from('<IIIII', self.data, at)
            if not (lookup or name or thunk):
                return libraries
            functions = libraries.setdefault(self.cstring(name), [])
            entry = self.offset(lookup or thunk)
            while True:
                value = struct.unpack_from('<Q' if wide else '<I', self.data, entry)[0]
                if not value:
                    break
                if not value & ordinal_flag:
                    functions.append(self.cstring((value & 0x7FFFFFFF) + 2))
                entry += entry_size
            at += 20

    def resources(self):
        """{(type, name): [(language, bytes)]}; IDs are ints, named entries strings."""
        rva, _ = self.directories[2]
        found = {}
        if not rva:
            return found
        base = self.offset(rva)

        def entries(directory):
            named, ids = struct.unpack_from('<HH', self.data, base + directory + 12)
            for i in range(named + ids):
                key, target = struct.unpack_from('<II', self.data, base + directory + 16 + 8 * i)
                if key & 0x80000000:
                    at = base + (key & 0x7FFFFFFF)
                    length = struct.unpack_from('<H', self.data, at)[0]
                    key = self.data[at + 2:at + 2 + 2 * length].decode('utf-16-le')
                yield key, target

        for rtype, names in entries(0):
            for name, languages in entries(names & 0x7FFFFFFF):
                for language, leaf in entries(languages & 0x7FFFFFFF):
                    data_rva, size, _, _ = struct.unpack_from('<IIII', self.data, base + leaf)
                    at = self.offset(data_rva)
                    found.setdefault((rtype, name), []).append((language, self.data[at:at + size]))
        return found


def string_table(resources):
    table = {}
    for (rtype, block), items in resources.items():
        if rtype != RT_STRING:
            continue
        for _, data in items:
            at = 0
            for index in range(16):
                length = struct.unpack_from('<H', data, at)[0]
                text = data[at + 2:at + 2 + 2 * length].decode('utf-16-le')
                at += 2 + 2 * length
                if length:
                    table[(block - 1) * 16 + index] = text
    return table


def fixed_file_info_parts(data, limit):
    """The eight version parts of the first VS_FIXEDFILEINFO whose parts are all at most limit,
    scanning the way setup does (signature 0xFEEF04BD, 52 bytes from it); None if there is none."""
    for p in range(0, len(data) - 51):
        if data[p] != 0xBD or struct.unpack_from('<I', data, p)[0] != 0xFEEF04BD:
            continue
        parts = struct.unpack_from('<8H', data, p + 8)
        if all(part <= limit for part in parts):
            return parts
    return None


class Checks:
    def __init__(self, args):
        self.args = args
        self.exe = Pe(args.exe)
        self.sfx = args.program == 'sfx'
        self.stub = None if self.sfx else Pe(args.stub)
        self.name = 'tqsfx.exe' if self.sfx else 'setup.exe'
        self.resources = self.exe.resources()
        self.failures = []

    def expect(self, condition, message):
        if not condition:
            self.failures.append(message)

    def programs(self):
        return ((self.name, self.exe),) if self.sfx else ((self.name, self.exe), ('stub', self.stub))

    def format(self):
        magic, machine = (0x10B, 0x14C) if self.args.bits == 32 else (0x20B, 0x8664)
        for name, pe in self.programs():
            self.expect(pe.magic == magic, f'{name}: optional header magic {pe.magic:#x}, want {magic:#x}')
            self.expect(pe.machine == machine, f'{name}: machine {pe.machine:#x}, want {machine:#x}')
        self.expect(self.exe.subsystem == 2, f'{self.name}: subsystem {self.exe.subsystem}, want 2 (GUI)')
        self.expect(not self.exe.characteristics & 0x2000, f'{self.name} is marked as a DLL')
        if self.stub:
            self.expect(self.stub.characteristics & 0x2000, 'stub is not marked as a DLL')

    def imports(self):
        allowed = KNOWN_LIBRARIES if self.sfx else SYSTEM_LIBRARIES
        for name, pe in self.programs():
            imported = pe.imports()
            libraries = {library.upper() for library in imported}
            self.expect('KERNEL32.DLL' in libraries, f'{name}: no KERNEL32 import?')
            foreign = sorted(libraries - allowed)
            self.expect(not foreign, f'{name}: imports from {foreign}')
            functions = {function for functions in imported.values() for function in functions}
            self.expect(len(functions) > 10, f'{name}: only {len(functions)} imported functions read')
            newer = sorted(functions & NEWER_FUNCTIONS)
            self.expect(not newer, f'{name}: imports functions older Windows lacks: {newer}')
            if self.sfx:
                threads = sorted(functions & THREAD_FUNCTIONS)
                self.expect(not threads, f'{name}: imports functions that start threads: {threads}')

    def manifest(self):
        manifests = [(name, language, data) for (rtype, name), items in self.resources.items()
                     if rtype == RT_MANIFEST for language, data in items]
        self.expect(len(manifests) == 1, f'{len(manifests)} manifests, want exactly 1')
        if len(manifests) != 1:
            return
        name, _, data = manifests[0]
        self.expect(name == 1, f'manifest has ID {name}, want 1')
        with open(self.args.manifest, 'rb') as f:
            self.expect(data == f.read(), f'manifest differs from {self.args.manifest}')
        text = data.decode('utf-8')
        self.expect(re.search(r'Microsoft\.Windows\.Common-Controls"\s+version="6\.0\.0\.0"', text),
                    'manifest does not ask for common controls 6.0.0.0')
        self.expect('<dpiAware' in text and '>true</dpiAware>' in text, 'manifest is not system DPI aware')
        self.expect(text.count('<supportedOS ') >= 5, 'manifest lacks the supported OS list')
        self.expect('requestedExecutionLevel' not in text, 'manifest names an execution level')

    def strings(self):
        table = string_table(self.resources)
        with open(self.args.resource_header) as f:
            header = f.read()
        if self.sfx:
            ids = [int(v) for v in re.findall(r'^#define IDS_SFX_\w+\s+(\d+)', header, re.M)]
            self.expect(len(ids) >= 5, 'resource.h names too few self-extractor strings')
            for string_id in ids + ENGINE_STRING_IDS:
                self.expect(string_id in table, f'string {string_id} missing')
            self.expect(table.get(1100) == 'Tessel Self-Extractor', f'string 1100 is {table.get(1100)!r}')
            return
        ids = [int(v) for v in re.findall(r'^#define IDS_\w+\s+(\d+)', header, re.M)]
        self.expect(len(ids) > 20, 'resource.h names too few strings')
        for string_id in ids + CONTINUATION_IDS:
            self.expect(string_id in table, f'string {string_id} missing')
        self.expect(table.get(1021) == 'Tessel Setup', f'string 1021 is {table.get(1021)!r}')
        for chain in (1039, 1040, 1041, 1044, 1046, 1047):
            self.expect(table.get(chain, '').startswith('!'), f'string {chain} does not continue')
        for end in (1042, 1045, 1048):
            self.expect(not table.get(end, '!').startswith('!'), f'string {end} does not end its chain')

    def dialogs(self):
        for template in (400,) if self.sfx else (100, 300):
            self.expect((RT_DIALOG, template) in self.resources, f'dialog template {template} missing')

    def stub_library(self):
        items = self.resources.get(('TQSHLEXT', 'TQ_SHL'), [])
        self.expect(len(items) == 1, f'{len(items)} resources TQSHLEXT/TQ_SHL, want 1')
        if items:
            self.expect(items[0][1] == self.stub.data,
                        f'TQSHLEXT/TQ_SHL ({len(items[0][1])} bytes) differs from the stub ({len(self.stub.data)} bytes)')
        parts = fixed_file_info_parts(self.stub.data, 20)
        self.expect(parts is not None, 'the stub has no version record with every part at most 20')

    def icon(self):
        groups = self.resources.get((RT_GROUP_ICON, 10), [])
        self.expect(len(groups) == 1, 'icon group 10 missing')
        if not groups:
            return
        data = groups[0][1]
        _, kind, count = struct.unpack_from('<HHH', data, 0)
        self.expect(kind == 1 and count >= 1, 'icon group 10 is not an icon group')
        for i in range(count):
            width, height, _, _, _, bits, size, icon_id = struct.unpack_from('<BBBBHHIH', data, 6 + 14 * i)
            self.expect((RT_ICON, icon_id) in self.resources, f'icon {icon_id} of group 10 missing')

    def version(self):
        items = self.resources.get((RT_VERSION, 1), [])
        self.expect(len(items) == 1 and fixed_file_info_parts(items[0][1], 0xFFFF) is not None,
                    f'{self.name} has no version record')

    def size(self):
        limits = {self.name: self.args.max_size, 'stub': self.args.stub_max_size}
        for name, pe in self.programs():
            limit = limits[name]
            print(f'  {name}: {len(pe.data)} bytes (at most {limit})')
            self.expect(limit is not None, f'a size limit for {name} is needed for the size check')
            if limit is not None:
                self.expect(len(pe.data) <= limit, f'{name}: {len(pe.data)} bytes, more than {limit}')

    def debug(self):
        paths = {self.name: self.args.exe, 'stub': self.args.stub}
        for name, pe in self.programs():
            shipped = [section for section in pe.section_names if section.startswith(('.debug', '.zdebug', '/'))]
            self.expect(not shipped, f'{name} ships debug sections (or names it cannot resolve): {shipped}')
            self.expect(not pe.symbol_table and not pe.symbol_count,
                        f'{name} ships a symbol table ({pe.symbol_count} symbols at {pe.symbol_table:#x})')
            self.expect(pe.raw_end == len(pe.data),
                        f'{name}: its sections end at {pe.raw_end}, the file at {len(pe.data)}')
            try:
                kept = Pe(paths[name] + '.debug')
            except (OSError, ValueError) as error:
                self.expect(False, f'{name}: no debug information beside it: {error}')
                continue
            self.expect('.debug_info' in kept.section_names,
                        f'{name}.debug holds no .debug_info: {kept.section_names}')


CHECKS = {'format': Checks.format, 'imports': Checks.imports, 'manifest': Checks.manifest,
          'strings': Checks.strings, 'dialogs': Checks.dialogs, 'stub': Checks.stub_library,
          'icon': Checks.icon, 'version': Checks.version, 'size': Checks.size, 'debug': Checks.debug}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--bits', type=int, choices=(32, 64), required=True)
    parser.add_argument('--exe', required=True)
    parser.add_argument('--program', choices=('setup', 'sfx'), default='setup')
    parser.add_argument('--stub')
    parser.add_argument('--max-size', type=int)
    parser.add_argument('--stub-max-size', type=int)
    parser.add_argument('--manifest', required=True)
    parser.add_argument('--resource-header', required=True)
    parser.add_argument('--check', action='append', choices=sorted(CHECKS))
    args = parser.parse_args()
    if args.program == 'setup' and not args.stub:
        parser.error('--stub is needed for setup.exe')
    checks = Checks(args)
    applicable = sorted(set(CHECKS) - ({'stub'} if checks.sfx else set()))
    for name in args.check or applicable:
        if name not in applicable:
            parser.error(f'check {name} does not apply to {checks.name}')
        before = len(checks.failures)
        CHECKS[name](checks)
        print(f'{name}: {"ok" if len(checks.failures) == before else "FAILED"}')
    for failure in checks.failures:
        print('  ' + failure)
    return 1 if checks.failures else 0


if __name__ == '__main__':
    sys.exit(main())
