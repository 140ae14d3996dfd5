// SPDX-License-Identifier: GPL-2.0
/*
 * qrxvxd-test: checks the kernel driver from user space, inside the virtual
 * K6 test machine only (static, 32-bit).
 *
 *   qrxvxd-test          the driver is loaded: requests and refusals
 *   qrxvxd-test absent   the driver refused to load: no device
 *
 * It writes registers only with the values it has just read, and leaves both
 * caches on, yet it refuses to run unless QRX_K6_TEST_MACHINE=1 says it is in
 * the test machine: it is no tool for a real processor.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "check.h"

#include "../qrxvxd.h"

/* The 64-bit kernel's build asserts the same: one layout for both kinds of caller. */
_Static_assert(sizeof(struct qrxvxd_request) == 32 &&
		       offsetof(struct qrxvxd_request, in) == 16 &&
		       offsetof(struct qrxvxd_request, out) == 24,
	       "the request record differs from the 64-bit one");

#define CR0_PE (1u << 0)
#define CR0_CD (1u << 30)
#define CR0_PG (1u << 31)
#define EPMR 0xC0000086u
#define PSOR 0xC0000087u

static int fd = -1;

/* One request; 0 or the errno it failed with. */
static int request(uint32_t code, const void *in, uint32_t in_size, void *out,
		   uint32_t out_size)
{
	return send_request(fd, code, in, in_size, out, out_size);
}

static int read_msr(uint32_t msr, uint32_t *high, uint32_t *low)
{
	uint32_t out[2];
	int err = request(QRXVXD_READ_MSR, &msr, 4, out, 8);

	*high = out[0];
	*low = out[1];
	return err;
}

static int write_msr(uint32_t msr, uint32_t high, uint32_t low)
{
	uint32_t in[3] = { msr, high, low };

	return request(QRXVXD_WRITE_MSR, in, 12, NULL, 0);
}

static uint32_t read_cr0(void)
{
	uint32_t cr0 = 0;
	int err = request(QRXVXD_READ_CR0, NULL, 0, &cr0, 4);

	if (err)
		check(0, "ReadCr0", "%s", errname(err));
	return cr0;
}

static int set_cache(uint32_t code, uint32_t on)
{
	return request(code, &on, 4, NULL, 0);
}


static void check_device(void)
{
	struct stat st = { 0 };
	int err = stat(QRXVXD_DEVICE_PATH, &st) ? errno : 0;

	check(!err && S_ISCHR(st.st_mode) && (st.st_mode & 07777) == 0600 &&
		      st.st_uid == 0,
	      "/dev/qrxvxd is a character device, mode 0600, owner root",
	      "%s, mode %o, owner %u", errname(err), (unsigned)st.st_mode,
	      (unsigned)st.st_uid);
	fd = open(QRXVXD_DEVICE_PATH, O_RDWR | O_CLOEXEC);
	check(fd >= 0, "open /dev/qrxvxd", fd < 0 ? "%s" : NULL,
	      errname(errno));
	if (fd < 0)
		exit(1);
}

static void check_registers(void)
{
	static const uint32_t msrs[] = { 0xC0000080, 0xC0000082, 0xC0000085,
					 EPMR, PSOR };
	uint32_t high, low;
	char what[64];
	size_t i;
	int err;

	for (i = 0; i < sizeof(msrs) / sizeof(msrs[0]); i++) {
		err = read_msr(msrs[i], &high, &low);
		snprintf(what, sizeof(what), "ReadMsr %08X", msrs[i]);
		check(!err, what, "%s, %08X %08X", errname(err), high, low);
		if (err || msrs[i] == PSOR)
			continue;
		err = write_msr(msrs[i], high, low);
		snprintf(what, sizeof(what), "WriteMsr %08X with its value",
			 msrs[i]);
		check(!err, what, err ? "%s" : NULL, errname(err));
	}
}

static void check_caches(void)
{
	uint32_t cr0 = read_cr0(), high, low;
	int err;

	check((cr0 & (CR0_PE | CR0_PG)) == (CR0_PE | CR0_PG),
	      "ReadCr0 has PE and PG set", "%08X", cr0);
	err = set_cache(QRXVXD_SET_L1_CACHE, 0);
	cr0 = read_cr0();
	check(!err && (cr0 & CR0_CD), "SetL1Cache 0 sets CD", "%s, CR0 %08X",
	      errname(err), cr0);
	err = set_cache(QRXVXD_SET_L1_CACHE, 1);
	cr0 = read_cr0();
	check(!err && !(cr0 & CR0_CD), "SetL1Cache 1 clears CD",
	      "%s, CR0 %08X", errname(err), cr0);

	/* The virtual processor keeps EFER bit 4 at 0: the request is all
	 * that can be checked here.
	 */
	err = set_cache(QRXVXD_SET_L2_CACHE, 0);
	if (!err)
		err = set_cache(QRXVXD_SET_L2_CACHE, 1);
	read_msr(0xC0000080, &high, &low);
	check(!err, "SetL2Cache 0 then 1", "%s, EFER %08X %08X", errname(err),
	      high, low);
}

static void check_clock(void)
{
	uint32_t interval = 50, out[2] = { 0, 0 };
	int err = request(QRXVXD_MEASURE_CLOCK, &interval, 4, out, 8);

	/* The sleep never ends early; the upper bound only catches a
	 * measurement that is plainly wrong, not a slow machine.
	 */
	check(!err && out[0] >= 50 && out[0] <= 200 && out[1] > 0,
	      "MeasureClock 50", "%s, %u ms, %u cycles (%.1f MHz)", errname(err),
	      out[0], out[1], out[0] ? out[1] / (out[0] * 1000.0) : 0.0);
}

static void on_alarm(int sig)
{
	(void)sig;
}

static void check_interrupted_clock(void)
{
	struct sigaction action = { .sa_handler = on_alarm };
	struct itimerval timer = { .it_value = { 0, 100000 } };
	uint32_t interval = 1000, out[2] = { 0xA5A5A5A5, 0xA5A5A5A5 };
	int err;

	sigaction(SIGALRM, &action, NULL);
	setitimer(ITIMER_REAL, &timer, NULL);
	err = request(QRXVXD_MEASURE_CLOCK, &interval, 4, out, 8);
	check(err == EINTR && out[0] == 0xA5A5A5A5 && out[1] == 0xA5A5A5A5,
	      "MeasureClock 1000 ended by a signal: EINTR, output untouched",
	      "%s", errname(err));
}

enum buf { NONE, GOOD, NUL, UNMAPPED, HIGH };

static const struct malformed {
	const char *what;
	uint32_t code, in_size, out_size, reserved;
	enum buf in, out;
	uint32_t value[3];
	int want;
} malformed[] = {
	{ "unknown code 0", 0, 4, 8, 0, GOOD, GOOD, { 0xC0000080 }, EINVAL },
	{ "unknown code 9", 9, 4, 8, 0, GOOD, GOOD, { 0xC0000080 }, EINVAL },
	{ "machine with an output of 40 bytes", 8, 0, 40, 0, NONE, GOOD, { 0 }, EINVAL },
	{ "ReadMsr input 8 bytes", 1, 8, 8, 0, GOOD, GOOD, { 0xC0000080 }, EINVAL },
	{ "ReadMsr output 4 bytes", 1, 4, 4, 0, GOOD, GOOD, { 0xC0000080 }, EINVAL },
	{ "WriteMsr input 8 bytes", 2, 8, 0, 0, GOOD, NONE, { 0xC0000082 }, EINVAL },
	{ "ReadCr0 with an input", 4, 4, 4, 0, GOOD, GOOD, { 0 }, EINVAL },
	{ "ReadCr0 with an input address but size 0", 4, 0, 4, 0, GOOD, GOOD, { 0 }, EINVAL },
	{ "reserved field set", 1, 4, 8, 1, GOOD, GOOD, { 0xC0000080 }, EINVAL },
	{ "ReadMsr null input", 1, 4, 8, 0, NUL, GOOD, { 0 }, EFAULT },
	{ "ReadMsr null output", 1, 4, 8, 0, GOOD, NUL, { 0xC0000080 }, EFAULT },
	{ "ReadCr0 null output", 4, 0, 4, 0, NONE, NUL, { 0 }, EFAULT },
	{ "ReadMsr unmapped input", 1, 4, 8, 0, UNMAPPED, GOOD, { 0 }, EFAULT },
	{ "ReadMsr input above 4 GiB", 1, 4, 8, 0, HIGH, GOOD, { 0 }, EFAULT },
	{ "ReadMsr 00000010 (time-stamp counter)", 1, 4, 8, 0, GOOD, GOOD, { 0x10 }, EPERM },
	{ "ReadMsr C0000081", 1, 4, 8, 0, GOOD, GOOD, { 0xC0000081 }, EPERM },
	{ "ReadMsr C0000084", 1, 4, 8, 0, GOOD, GOOD, { 0xC0000084 }, EPERM },
	{ "WriteMsr C0000087 (read only)", 2, 12, 0, 0, GOOD, NONE, { PSOR }, EPERM },
	{ "WriteMsr 0000001B (APIC base)", 2, 12, 0, 0, GOOD, NONE, { 0x1B }, EPERM },
	{ "port output to 80", 7, 8, 0, 0, GOOD, NONE, { 0x80, 1 }, EPERM },
	{ "MeasureClock 0", 3, 4, 8, 0, GOOD, GOOD, { 0 }, EINVAL },
	{ "MeasureClock 1001", 3, 4, 8, 0, GOOD, GOOD, { 1001 }, EINVAL },
	{ "MeasureClock 100000", 3, 4, 8, 0, GOOD, GOOD, { 100000 }, EINVAL },
	{ "SetL1Cache 2", 5, 4, 0, 0, GOOD, NONE, { 2 }, EINVAL },
	{ "SetL2Cache FFFFFFFF", 6, 4, 0, 0, GOOD, NONE, { 0xFFFFFFFF }, EINVAL },
};

static uint64_t address(enum buf kind, void *good)
{
	switch (kind) {
	case GOOD:
		return (uintptr_t)good;
	case UNMAPPED:
		return 0x1000; /* below the lowest address a process may map */
	case HIGH:
		return (uintptr_t)good | 0x100000000ull;
	default:
		return 0;
	}
}

/* Each malformed request fails with its errno and leaves the output alone. */
static void check_malformed(void)
{
	size_t i;

	for (i = 0; i < sizeof(malformed) / sizeof(malformed[0]); i++) {
		const struct malformed *m = &malformed[i];
		uint32_t in[3] = { m->value[0], m->value[1], m->value[2] };
		uint32_t out[3] = { 0xA5A5A5A5, 0xA5A5A5A5, 0xA5A5A5A5 };
		struct qrxvxd_request req = {
			.code = m->code,
			.in_size = m->in_size,
			.out_size = m->out_size,
			.reserved = m->reserved,
			.in = address(m->in, in),
			.out = address(m->out, out),
		};
		int err = ioctl(fd, QRXVXD_REQUEST, &req) == 0 ? 0 : errno;

		check(err == m->want && out[0] == 0xA5A5A5A5 &&
			      out[1] == 0xA5A5A5A5 && out[2] == 0xA5A5A5A5,
		      m->what, "%s (expected %s)", errname(err), errname(m->want));
	}
}

static void check_bad_ioctls(void)
{
	int err = ioctl(fd, _IOW('Q', 2, struct qrxvxd_request), NULL) ? errno : 0;

	check(err == ENOTTY, "another ioctl number", "%s", errname(err));
	err = ioctl(fd, QRXVXD_REQUEST, (void *)0x1000) ? errno : 0;
	check(err == EFAULT, "request record at an unmapped address", "%s",
	      errname(err));
}

/*
 * The driver opens the power-management block for the output itself and
 * closes it after. The value has no change bits, so the multiplier stays.
 */
static void check_port_output(void)
{
	uint32_t high, low, high2, low2, in[2] = { 0xFFF8, 0 };
	int err;

	read_msr(EPMR, &high, &low);
	err = request(QRXVXD_PORT_OUTPUT, in, 8, NULL, 0);
	read_msr(EPMR, &high2, &low2);
	check(!err && high == high2 && low == low2,
	      "port output to FFF8 with EPMR closed: made, EPMR as it was",
	      "%s, EPMR %08X %08X", errname(err), high2, low2);
}

int main(int argc, char **argv)
{
	const char *machine = getenv("QRX_K6_TEST_MACHINE");

	if (!machine || strcmp(machine, "1") != 0) {
		fprintf(stderr, "qrxvxd-test: runs only in the virtual K6 test machine (QRX_K6_TEST_MACHINE=1)\n");
		return 2;
	}
	setvbuf(stdout, NULL, _IOLBF, 0);
	if (argc > 1 && strcmp(argv[1], "absent") == 0) {
		struct stat st;
		int err = stat(QRXVXD_DEVICE_PATH, &st) ? errno : 0;

		check(err == ENOENT, "no /dev/qrxvxd", "%s", errname(err));
	} else {
		check_device();
		check_registers();
		check_caches();
		check_clock();
		check_interrupted_clock();
		check_port_output();
		check_malformed();
		check_bad_ioctls();
	}
	printf("qrxvxd-test: %d checks, %d failed\n", checks, failures);
	return failures ? 1 : 0;
}
