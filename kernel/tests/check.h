/* SPDX-License-Identifier: GPL-2.0 */
/*
 * What the request checkers share: one request to the driver, and the report,
 * one line per check, "ok" or "FAIL", what was checked and why; the machine
 * scripts count the FAIL lines.
 */
#ifndef QRX_CHECK_H
#define QRX_CHECK_H

#include <errno.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/ioctl.h>

#include "errname.h"

#include "../qrxvxd.h"

/* One request on a descriptor; 0 or the errno it failed with. */
static int send_request(int fd, uint32_t code, const void *in, uint32_t in_size, void *out,
			uint32_t out_size)
{
	struct qrxvxd_request req = {
		.code = code,
		.in_size = in_size,
		.out_size = out_size,
		.in = (uintptr_t)in,
		.out = (uintptr_t)out,
	};

	return ioctl(fd, QRXVXD_REQUEST, &req) == 0 ? 0 : errno;
}

static int failures, checks;

static void check(int ok, const char *what, const char *fmt, ...)
	__attribute__((format(printf, 3, 4)));

static void check(int ok, const char *what, const char *fmt, ...)
{
	va_list ap;

	checks++;
	failures += !ok;
	printf("%s - %s", ok ? "ok" : "FAIL", what);
	if (fmt) {
		printf(": ");
		va_start(ap, fmt);
		vprintf(fmt, ap);
		va_end(ap);
	}
	printf("\n");
}

#endif
