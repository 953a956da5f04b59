/* dapi2.h - public interface of the diagnostic module framework: its status,
 * exit and result codes, and (through the included headers) the registration
 * structure and module entry, command line, communications and notifications,
 * events, device model, reports and parameters. A module includes only this. */
#ifndef DAPI2_H
#define DAPI2_H

#include <stdint.h>

#include "device-record.h"
#include "dapi2-device.h"
#include "param-valid.h"
#include "dapi2-events.h"
#include "dapi2-reports.h"
#include "dapi2-command-line.h"
#include "dapi2-comms.h"
#include "dapi2-param.h"
#include "dapi2-main.h"

/* ---- Status codes of the framework (never exit statuses unless listed) ---- */
#define DAPI2_OK 0
#define DAPI2_ERR_BAD_NOTIFY 22 /* unknown notification kind */
#define DAPI2_ERR_STARTUP 23    /* startup notification not sent */
#define DAPI2_ERR_SEND 24       /* connection not opened, not sent, no answer */
#define DAPI2_ERR_MESSAGE 25    /* message not built */
#define DAPI2_ERR_HEADER 26     /* header not built */
#define DAPI2_ERR_NOMEM 27      /* out of memory */
#define DAPI2_ERR_BADARG 28     /* bad argument */

/* Exit statuses of a module process (what Dapi2_Main returns). */
#define DAPI2_EXIT_OK 0         /* the mode ran; any test result */
#define DAPI2_EXIT_NOMEM 1      /* registration structure not allocated (main) */
#define DAPI2_EXIT_NOREG 28     /* no registration structure */
#define DAPI2_EXIT_NOCOMM 29    /* communications could not be started */
#define DAPI2_EXIT_NOMODE 30    /* no or unknown mode word; validate without callback */
#define DAPI2_EXIT_BADPARAMS 31 /* parameter list could not be built or processed */

/* Test result codes returned by the diagnostic callback; 12 and above are sent
 * as "SETUPERROR". */
#define DAPI2_RESULT_PASS 0
#define DAPI2_RESULT_SETUPERROR 1
#define DAPI2_RESULT_FAIL 2
#define DAPI2_RESULT_BUSY 3
#define DAPI2_RESULT_PRIVILEGEERROR 4
#define DAPI2_RESULT_NOTAPPLICABLE 5
#define DAPI2_RESULT_BADPARAMS 6
#define DAPI2_RESULT_NOMEDIA 7
#define DAPI2_RESULT_DISCONTINUED 8

#endif
