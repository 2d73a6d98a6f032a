// What a mode of a change run works with: the open pair, the window, the
// run's collaborators and the state the run shares with its modes.
#pragma once

#include <string>

#include "Tools/Parvane/ChangeHosts.h"
#include "Tools/Parvane/ChangeLogs.h"
#include "Tools/Parvane/IDGenerators.h"
#include "Tools/Parvane/ItemTransactions.h"
#include "Tools/Parvane/NewIDRules.h"
#include "Tools/Parvane/SelectLayers.h"
#include "UdbProject/Udbs.h"

struct TRunContext {
    IUdb& Db;    // spatial
    IUdb& SemDb; // semantic
    IChangeHost& Host;
    TChangeLog& Log;
    TItemTransactions& Transactions;
    TNewIDRule& NewIDs;
    TIDGenerator& Generator;
    // The chosen objects; they follow every committed change.
    TVelmoSysObjectList& SysObjects;
    // Set when Cancel was confirmed: the loops stop before their next item.
    const bool& Cancelled;
    // The report of missing semantic tables of the run.
    std::string& Report;
};
