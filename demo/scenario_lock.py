"""Password, lock by hand and auto-lock."""
import hashlib
import os

from driver import LOADER_END, LOADER_START
from tour import check

TITLE = "Password and lock, by hand and automatic"
REQUIRES = ["plugin/lock/ManagerLock.cpp", "plugin/lock/SetPasswordDlg.cpp", "plugin/lock/LockedDlg.cpp"]
PASSWORD = "secret"

SCENARIO = LOADER_START + r'''
option window-states
signin me@parleym.example "Me Myself"
add-contact bob@parleym.example "Bob B" status=ONLINE
add-contact carol@parleym.example "Carol C" status=ONLINE
open bob@parleym.example
receive bob@parleym.example "are you there?"
receive carol@parleym.example "see you later"
sleep 300
show conv:carol@parleym.example minimized
# A password first: without one nothing can be locked.
answer caption="Set password" edit=4010:secret edit=4021:secret screenshot=set-password button=OK
menu main Parleym "Set password..."
wait answered timeout=10000
menu main Parleym "Auto lock messenger" "at 5 minutes"
sleep 300
dump
# Locked by hand; a wrong password is refused, the right one unlocks.
answer caption="Unlock messenger" delay=1500 screenshot=locked edit=4007:wrong button=Unlock again=yes
answer caption=Error text="Password mismatch" button=OK
answer caption="Unlock messenger" edit=4007:secret button=Unlock
menu main Parleym "Lock messenger"
wait answered timeout=20000
sleep 300
screenshot unlocked
# Five idle minutes end in the idle timer's command; the tour posts that command in
# the messenger, to the plug-in's hidden window, instead of waiting (the loader
# relays only the tray menu's commands).
answer caption="Unlock messenger" delay=1500 screenshot=autolocked edit=4007:secret button=Unlock
post class:ParleymHiddenWnd 273 30017 0
wait answered timeout=20000
sleep 300
signout
sleep 300
''' + LOADER_END


def run_options(ctx):
    return ctx.run_options("wm")


def lock_command_returned(lines):
    """The unlock dialog is modal inside the lock command: the command's end line after the
    answer with the right password means it took the password and let go."""
    chosen = [i for i, l in enumerate(lines) if l.startswith("menu chose id=30011")]
    if not chosen:
        return False
    after = lines[chosen[0]:]
    typed = [i for i, l in enumerate(after) if l == 'answer typed "%s" into edit 4007' % PASSWORD]
    return bool(typed) and any(l.startswith("command main id=30011") for l in after[typed[0]:])


def steps(result, ctx):
    digest = hashlib.md5(PASSWORD.encode()).hexdigest()
    try:
        dump = ctx.bench.users_dat_tool("dump", os.path.join(result.data_dir, "users.dat"))
    except Exception as error:
        dump = "error: %s" % error
    records = [line.split("|") for line in dump.splitlines() if "|" in line]
    unlock = result.lines_starting('dialog caption="Unlock messenger"')
    menubar = result.last("menubar main") or ""
    return [
        dict(title="Setting a password", shot="set-password",
             story="The user chose \"Set password...\" in the messenger's Parleym menu and typed the new "
                   "password twice. Parleym stored its digest in the account's settings in users.dat.",
             checks=[check("the \"Set password\" dialog was shown",
                           result.lines_starting('dialog caption="Set password"')),
                     check("users.dat (decrypted by the build's users-dat tool) holds me@parleym.example "
                           "with the password's MD5 digest",
                           any(r[0] == "me@parleym.example" and r[1] == digest for r in records))]),
        dict(title="Locking the messenger by hand", shot="locked",
             story="The user chose \"Lock messenger\". Parleym covered the whole of the messenger's windows, "
                   "leaving the minimised conversation with Carol minimised, and asked for the password; a "
                   "wrong one was refused with \"Password mismatch\", the right one unlocked the messenger.",
             checks=[check("the \"Unlock messenger\" dialog came up", len(unlock) >= 1),
                     check("the minimised conversation with Carol stayed minimised",
                           result.last("state conv:carol@parleym.example") == "enabled=yes minimized=yes"),
                     check("the wrong password was refused: \"Password mismatch\"",
                           result.lines_starting('box caption="Error" text="Password mismatch"')),
                     check("auto-lock \"at 5 minutes\" is checked in the Parleym menu",
                           "*at 5 minutes" in menubar)]),
        dict(title="The messenger unlocked", shot="unlocked",
             story="After the right password the covers are gone and the conversation with Bob is usable again.",
             checks=[check("the lock ended with the right password: the \"Lock messenger\" command returned",
                           lock_command_returned(result.lines))]),
        dict(title="Auto-lock after idle minutes", shot="autolocked",
             story="With auto-lock set to 5 minutes, the idle timer's lock command came (the tour sends it "
                   "rather than waiting five minutes). Parleym locked the messenger again and took the "
                   "password to unlock it.",
             checks=[check("the \"Unlock messenger\" dialog came up a second time", len(unlock) >= 2)]),
    ]
