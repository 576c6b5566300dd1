// Resource ids of Uninst.
#pragma once

#define IDS_CONFIRM_DELETE 104
#define IDS_NOT_ADMIN 105
#define IDS_ALREADY_STARTED 106
#define IDS_PROCESS_FAILED 107
