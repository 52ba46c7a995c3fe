#include "desk/help.h"

namespace padwarden::desk {

const char* const kUsageText = R"(Usage:
  padwarden                 run Padwarden at the desk: a simulated Mac with one USB keyboard
                            "kb1" plugged in and Input Monitoring granted, in real time, with
                            your preferences in $XDG_CONFIG_HOME/Padwarden and the per-user
                            instance lock in $XDG_DATA_HOME/Padwarden. Type commands at the
                            prompt (line editing and history as in a shell); "exit", end of
                            input (Ctrl-D) or Ctrl-C quits Padwarden as its menu's Quit does
                            (a quit held back by a pressed key waits for it); once Padwarden
                            has gone the desk ends. A second Ctrl-C ends the desk at once.
                            With standard input not a terminal no prompt is shown, and the
                            exit status is 1 when any command failed.
  padwarden --script FILE   run a script (FILE "-" reads standard input) in virtual time, on
                            an in-memory preferences store and a temporary lock folder.
                            Nothing is plugged in or launched until the script says so.
                            Exit status: 0 when every expectation held, 1 at the first that
                            failed (its line, what was expected and what was found are
                            printed), 2 for a line that is not a valid command or a script
                            that cannot be read.
  padwarden --icons DIR     write the status icons as PNG, 16 and 32 pixels, into DIR.
  padwarden --help          this text.

)";

const char* const kCommandsText = R"(Commands (one a line; "#" starts a comment):
  plug NAME [transport=usb|bluetooth|ble|OTHER] [builtin] [virtual] [mouse] [uid=TEXT]
            [serial=TEXT vendor=N product=N] [report-ids] [leds=N]
                            plug a keyboard in (a known NAME alone: again, as before)
  unplug NAME
  press NAME KEY...         keys go down, one report each; the keys typed are shown
  release NAME KEY...
  tap NAME KEY...           press and release each key in turn
                            keys: numlock kp0..kp9 kpdot lshift rshift lctrl capslock a..z
  wait SECONDS              time passes (decimal seconds, at most 10000000)
  click TEXT                choose the menu item whose title starts with TEXT
  permission granted|denied|ask
                            Input Monitoring; ask: granted as soon as Padwarden requests it
  map NAME []|numeric|navigation|SRC:DST...
                            another program sets the keyboard's "UserKeyMapping" (Src and
                            Dst in hexadecimal, e.g. 0x700000039:0x7000000E0; numeric and
                            navigation: values equal to Padwarden's own two mappings)
  map NAME float SRC:DST...  the same entries as floating-point numbers
  map NAME SRC:              an entry without its destination
  map NAME text TEXT         a text instead of an array
  fault OP once|always|at N [not-permitted]
                            the platform call OP fails: its next call, every call, or its Nth
                            call from now; not-permitted: it answers 0xe00002e2 (Input
                            Monitoring withdrawn). OP as the platform names it, e.g.
                            IOHIDServiceClientSetProperty ("fault list" names them all)
  fault clear [OP]          no call fails any more (or only OP's rules go)
  store fails|lies|misreads [once]
                            the preferences store (scripts only) fails every synchronize (or
                            the next), claims a save it loses at the next crash, or reads back
                            something else than it holds
  store works               the store behaves again
  launch [ARG...]           start Padwarden (e.g. launch --post-install)
  crash                     Padwarden dies at once; what it did not save is lost
  sleep, wake               the machine goes to sleep, or wakes up
  reboot                    the machine restarts (mappings are gone; keyboards stay)
  hid restart               the HID event system restarts: every keyboard's mapping is gone,
                            the keyboards and their registry IDs stay
  install PATH              where Padwarden.app is installed (default /Applications)
  login status N            the login-item status the system reports (0 to 3, or other)
  login register enables|approval|fails|fails-silently
                            what registering Padwarden as a login item does
  settings available|unavailable
                            whether System Settings can be opened
  menu                      show the status item and menu
Expectations (a failed one stops a script):
  expect line TEXT          some menu line reads exactly TEXT
  expect greyed yes|no TEXT  the menu line reading exactly TEXT is greyed out, or not
  expect icon on|off
  expect tooltip TEXT|none  the tooltip of the mapping line
  expect led NAME on|off
  expect mapping NAME original|numeric|navigation
                            original: what anyone but Padwarden last set (none and an
                            empty array count as the same)
  expect typed NAME KEY...|none
                            the key-down events of the last press or tap on NAME; the
                            navigation keys read home end up down left right pageup
                            pagedown insert deleteforward
  expect alert TEXT         an alert with that title since the last "expect alert"
  expect log TEXT           a system-log line reads exactly TEXT
  expect lease NAME yes|no|original
                            a mapping lease for the keyboard is saved (original: one naming
                            the keyboard's original); an unplugged keyboard's is looked for
                            under the ID it had
  expect writes NAME N      Padwarden wrote the keyboard's mapping N times since it was
                            plugged in or since the last "expect writes" on it
  expect running yes|no
And:
  help                      this list
  exit                      quit Padwarden as its menu's Quit does, and end the desk (in a
                            script: the script ends there, with status 0)
)";

}  // namespace padwarden::desk
