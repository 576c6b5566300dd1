// Resource ids of _uninst.
#pragma once

#define IDS_BEING_DELETED 3
#define IDS_RESTART_PC 4

#define IDD_WAIT 102
