// SPDX-License-Identifier: MIT
/* A C program on libkorvel-netbios, built against the installed header and
 * library with pkg-config. It resets a LANA and, on request, adds a name and
 * reads the local adapter status in each asynchronous form nb30.h documents:
 * event, post routine, and polling ncb_cmd_cplt.
 *
 *   netbios_client LANA reset          reset only
 *   netbios_client LANA async          reset, add a name, three status reads
 *   netbios_client LANA hold FILE      reset, then keep the LANA until FILE exists (at most 30 s)
 *
 * Prints one line per step ("reset 0x00", ...); exits 0 when every step
 * returned NRC_GOODRET. */
#define _POSIX_C_SOURCE 200809L /* nanosleep, access */

#include <nb30.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

enum { kNames = 4 };

typedef struct StatusBuffer {
    ADAPTER_STATUS status;
    NAME_BUFFER names[kNames];
} StatusBuffer;

static int posted;

static void OnPosted(NCB *ncb) {
    (void)ncb;
    __atomic_store_n(&posted, 1, __ATOMIC_RELEASE);
}

static void Pause(void) {
    struct timespec pause = {0, 10 * 1000 * 1000};
    nanosleep(&pause, NULL);
}

static void Prepare(NCB *ncb, UCHAR command, UCHAR lana) {
    memset(ncb, 0, sizeof *ncb);
    ncb->ncb_command = command;
    ncb->ncb_lana_num = lana;
}

static void LocalStatus(NCB *ncb, UCHAR lana, StatusBuffer *buffer) {
    Prepare(ncb, NCBASTAT | ASYNCH, lana);
    memset(ncb->ncb_callname, ' ', NCBNAMSZ);
    ncb->ncb_callname[0] = '*';
    ncb->ncb_buffer = (PUCHAR)buffer;
    ncb->ncb_length = (WORD)sizeof *buffer;
}

static int Report(const char *form, const NCB *ncb, const StatusBuffer *buffer) {
    printf("%s 0x%02X names=%u\n", form, ncb->ncb_retcode, (unsigned)buffer->status.name_count);
    return ncb->ncb_retcode == NRC_GOODRET && buffer->status.name_count >= 1;
}

static int AsyncForms(UCHAR lana) {
    NCB ncb;
    StatusBuffer buffer;
    int ok = 1;
    int i;

    Prepare(&ncb, NCBADDNAME, lana);
    memset(ncb.ncb_name, ' ', NCBNAMSZ);
    memcpy(ncb.ncb_name, "KORVEL-C", 8);
    printf("add 0x%02X\n", Netbios(&ncb));
    if (ncb.ncb_retcode != NRC_GOODRET) return 0;

    /* Event. */
    HANDLE event = NbtEventCreate();
    LocalStatus(&ncb, lana, &buffer);
    ncb.ncb_event = event;
    if (Netbios(&ncb) != NRC_GOODRET || !NbtEventWait(event, 5000)) ok = 0;
    ok &= Report("event", &ncb, &buffer);
    NbtEventClose(event);

    /* Post routine, on the provider's thread. */
    LocalStatus(&ncb, lana, &buffer);
    ncb.ncb_post = OnPosted;
    if (Netbios(&ncb) != NRC_GOODRET) ok = 0;
    for (i = 0; i < 500 && !__atomic_load_n(&posted, __ATOMIC_ACQUIRE); ++i) Pause();
    ok &= Report("post", &ncb, &buffer);

    /* Polling. */
    LocalStatus(&ncb, lana, &buffer);
    if (Netbios(&ncb) != NRC_GOODRET) ok = 0;
    for (i = 0; i < 500 && __atomic_load_n(&ncb.ncb_cmd_cplt, __ATOMIC_ACQUIRE) == NRC_PENDING; ++i) Pause();
    ok &= Report("poll", &ncb, &buffer);
    return ok;
}

int main(int argc, char **argv) {
    NCB ncb;
    UCHAR lana;
    int i;

    if (argc < 3) {
        fprintf(stderr, "usage: netbios_client LANA reset|async|hold FILE\n");
        return 2;
    }
    setvbuf(stdout, NULL, _IOLBF, 0);
    lana = (UCHAR)atoi(argv[1]);
    Prepare(&ncb, NCBRESET, lana);
    printf("reset 0x%02X\n", Netbios(&ncb));
    if (ncb.ncb_retcode != NRC_GOODRET) return 1;

    if (strcmp(argv[2], "async") == 0) return AsyncForms(lana) ? 0 : 1;
    if (strcmp(argv[2], "hold") == 0 && argc > 3)
        for (i = 0; i < 3000 && access(argv[3], F_OK) != 0; ++i) Pause();
    return 0;
}
