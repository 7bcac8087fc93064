// The help listing of the seventeen built-in commands, in registration order, as
// "?" on an empty line writes it: one line " <printed definition>\n" per command.
#pragma once

inline constexpr char kBuiltInListing[] =
    " show version\n"
    " show date\n"
    " set encoding {sjis|eucjp}\n"
    " set timeout [SEC:180]\n"
    " dosprompt\n"
    " logoff\n"
    " shutdown [DELAY:180]\n"
    " reboot [DELAY:180]\n"
    " abort\n"
    " show diskinfo [OPTION:hdd]\n"
    " show eventlog {application|security|system} [LINE:10]\n"
    " set eventlog-notification {on|off}\n"
    " show process\n"
    " kill {PID}\n"
    " show service [NAME_DISPLAY_OPTION:full]\n"
    " start service {SERVICE_NAME}\n"
    " stop service {SERVICE_NAME}\n";
