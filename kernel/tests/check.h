/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The request checkers' report: one line per check, "ok" or "FAIL", what was
 * checked and why; the machine scripts count the FAIL lines.
 */
#ifndef QRX_CHECK_H
#define QRX_CHECK_H

#include <stdarg.h>
#include <stdio.h>

#include "errname.h"

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
