// FindqOPCItem: the item of a server component named by group and item id.
#pragma once

#include <QString>

class TqOPCServer;
class TqOPCItem;

/// The item whose ItemID is itemName in the group named groupName of
/// server's group collection; null when server is null or either name has
/// no match. Both names compare exactly, case included. Never adds anything.
TqOPCItem* FindqOPCItem(const TqOPCServer* server, const QString& groupName,
                        const QString& itemName);
