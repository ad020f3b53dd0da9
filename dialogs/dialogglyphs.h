// The small pictures of the runtime dialogs, drawn in code so that they look
// the same under every style and platform theme: a closed and an open
// folder, a folder with an upward arrow, the symbol of an item, a tick and a
// crossed-out circle, a computer, a plugged and an unplugged connector. Each
// icon holds 16 and 32 pixel renderings; the disabled state is derived by
// the style, except for the tick and the crossed-out circle of the speed
// buttons, which carry their own greyed one.
#pragma once

#include <QIcon>

namespace veze6::dialogs {

/// A closed folder: a branch of an address space, a group folder.
QIcon ClosedFolderGlyph();
/// An open folder.
QIcon OpenFolderGlyph();
/// A closed folder with an upward arrow: one level up.
QIcon FolderUpGlyph();
/// A data point's tag: a leaf of an address space.
QIcon ItemGlyph();
/// A tick mark: confirm. With its own disabled rendering.
QIcon TickGlyph();
/// A crossed-out circle: close without taking anything. With its own
/// disabled rendering.
QIcon CrossedCircleGlyph();
/// A computer screen: choose a server of a computer.
QIcon ComputerGlyph();
/// A plug in its socket: connect.
QIcon ConnectGlyph();
/// A plug pulled from its socket: disconnect.
QIcon DisconnectGlyph();

}  // namespace veze6::dialogs
