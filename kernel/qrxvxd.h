/* SPDX-License-Identifier: GPL-2.0 WITH Linux-syscall-note */
/*
 * qrxvxd: the interface between Quorix's programs and its kernel driver for
 * AMD K6-family processors. Shared by the driver and by user space (C and C++).
 *
 * Every request is one QRXVXD_REQUEST ioctl on /dev/qrxvxd with the record
 * below. The record has the same layout for 32-bit and 64-bit processes (the
 * two 64-bit fields sit on 8-byte offsets), so a 32-bit program works on a
 * 64-bit kernel unchanged.
 */
#ifndef QRXVXD_H
#define QRXVXD_H

#include <linux/ioctl.h>
#include <linux/types.h>

#define QRXVXD_DEVICE_PATH "/dev/qrxvxd"

/*
 * Request codes and their buffers (all fields unsigned 32-bit little-endian;
 * a 64-bit register value travels as its high half first, then its low half):
 *
 * code  in                              out
 * 1     register                        high, low
 * 2     register, high, low             none
 * 3     interval in ms (1..1000)        elapsed ms, cycles counted
 * 4     none                            CR0
 * 5     switch (1 on, 0 off)            none
 * 6     switch (1 on, 0 off)            none
 * 7     port, value                     none
 * 8     none                            struct qrxvxd_machine
 *
 * "none" is size 0 and address 0; every size must match exactly.
 */
#define QRXVXD_READ_MSR		1
#define QRXVXD_WRITE_MSR	2
#define QRXVXD_MEASURE_CLOCK	3
#define QRXVXD_READ_CR0		4
#define QRXVXD_SET_L1_CACHE	5
#define QRXVXD_SET_L2_CACHE	6
#define QRXVXD_PORT_OUTPUT	7
#define QRXVXD_MACHINE		8

struct qrxvxd_request {
	__u32 code;	/* 1..6: the driver link's requests; 7: port output; 8: machine */
	__u32 in_size;	/* bytes at in */
	__u32 out_size;	/* bytes at out */
	__u32 reserved;	/* must be 0 */
	__u64 in;	/* user address of the input buffer, 0 for none */
	__u64 out;	/* user address of the output buffer, 0 for none */
};

#define QRXVXD_REQUEST _IOW('Q', 1, struct qrxvxd_request)

/*
 * Request 8: what the driver knows about the machine, so that user space can
 * tell a refused change in the user's words before or after making it.
 */
struct qrxvxd_machine {
	__u32 ram_top_mb;	/* end of the highest usable RAM below 4 GiB, in MiB rounded up */
	__u32 flags;		/* QRXVXD_HOLE_IS_RAM ... QRXVXD_CPUFREQ */
	__u32 window_count;	/* display adapters' memory windows listed below, at most 4 */
	__u32 reserved;		/* 0 */
	struct {
		__u32 base, size;
	} windows[4];		/* bytes; prefetchable memory of display devices */
};

/* 15-16 MiB is System RAM (no chipset ISA hole there). */
#define QRXVXD_HOLE_IS_RAM	(1u << 0)
/* The kernel's MTRR layer manages the K6's two memory-type ranges. */
#define QRXVXD_MTRR_KERNEL	(1u << 1)
/* That range was set by someone else (firmware, a graphics driver): not ours to change. */
#define QRXVXD_RANGE0_KERNEL	(1u << 2)
#define QRXVXD_RANGE1_KERNEL	(1u << 3)
/* A cpufreq driver manages the multiplier. */
#define QRXVXD_CPUFREQ		(1u << 4)

#endif /* QRXVXD_H */
