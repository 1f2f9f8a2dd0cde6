#pragma once

#include <QtGlobal>

// The warning, protection and error words of the monitoring read, bit by
// bit: the key that names a bit wherever a machine reads it (the MQTT state
// message) and the lamp text the real-time page shows for it. Warnings and
// protections share their first twelve bits; each panel adds its own.
namespace AlarmBits {

struct Bit
{
    const char *key;     // lower case with underscores, stable for consumers
    const char *chinese; // lamp text (UTF-8)
    const char *english;
};

enum class Group { Warning, Protection, Error };

struct List
{
    const Bit *bits; // bit 0 first
    int count;
    int reg;         // the register holding the group's word
};

const List &bits(Group group);

// The key of bit `bit` (0..15) of `group`: its own, or "bit<N>" for a bit
// the BMS sets without a name of ours.
const char *key(Group group, int bit);

} // namespace AlarmBits
