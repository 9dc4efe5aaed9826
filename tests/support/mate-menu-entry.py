#!/usr/bin/python3
# Prints what MATE's screen saver menu lists and what GLib reads of Lumora's entry there:
#   mate-menu-entry.py
# as lines "key=value": the count of entries, the entry's file, and its command line as GLib splits it.
import json

import gi

gi.require_version("MateMenu", "2.0")
from gi.repository import Gio, GLib, MateMenu  # noqa: E402


def entries(directory):
    items = directory.iter()
    while True:
        kind = items.next()
        if kind == MateMenu.TreeItemType.INVALID:
            return
        if kind == MateMenu.TreeItemType.ENTRY:
            entry = items.get_entry()
            yield entry.get_desktop_file_id(), entry.get_desktop_file_path()
        elif kind == MateMenu.TreeItemType.DIRECTORY:
            yield from entries(items.get_directory())


tree = MateMenu.Tree.new("mate-screensavers.menu", MateMenu.TreeFlags.NONE)
tree.load_sync()
listed = dict(entries(tree.get_root_directory()))
print("menu.count=%d" % len(listed))
path = listed.get("screensavers-lumora.desktop", "")
print("menu.lumora=%s" % path)
if path:
    info = Gio.DesktopAppInfo.new_from_filename(path)
    print("glib.read=%d" % (info is not None))
    if info is not None:
        print("glib.name=%s" % info.get_name())
        print("glib.argv=%s" % json.dumps(GLib.shell_parse_argv(info.get_commandline())[1], ensure_ascii=False))
