#pragma once
// The command line's options, each declared once (options.cpp): its names,
// the commands it applies to, how its value is read, and its French
// description, from which the help is made (help.cpp). Adding an option is
// one entry in that table.

#include "app/cli/cli.h"

#include <QString>

#include <span>

namespace codiflux::cli {

// The commands an option applies to.
enum class Scope { Any, Both, Generate, Preview, Font };

// The part of the help that lists an option.
enum class HelpSection { Usage, Field, Parameters, Making, Preview };

// Reads an option's value (empty for a switch) into the options.
using ApplyOption = Error (*)(Options& options, const QString& value);

struct OptionEntry {
    const char* name;       // long name, without "--"
    char shortName;         // 0 when none
    const char* valueName;  // nullptr for a switch
    Scope scope;
    ApplyOption apply;  // nullptr for the options read before the others
    HelpSection section;
    // French description in the help; nullptr: listed on the line of the
    // entry before it ("--eol, --no-eol"). The Usage section's options are
    // named by the usage lines.
    const char* help;
};

std::span<const OptionEntry> optionTable();

// The entry of an option by its long or its short name; null when none.
const OptionEntry* findOption(const QString& name);

Error usageError(const QString& text);

// A text of the command line through the translation function.
QString tr(const char* text);

}  // namespace codiflux::cli
