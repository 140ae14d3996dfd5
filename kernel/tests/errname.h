/* SPDX-License-Identifier: GPL-2.0 */
/*
 * errno's symbolic name for the machines' helpers. They are built against musl, which has no
 * strerrorname_np, and the checks compare names, not the C library's wording.
 */
#ifndef QRX_ERRNAME_H
#define QRX_ERRNAME_H

#include <errno.h>
#include <stdio.h>

static const char *errname(int err)
{
	static char unknown[24];

	switch (err) {
	case 0: return "success";
#define NAME(e) case e: return #e
	NAME(EPERM); NAME(ENOENT); NAME(ESRCH); NAME(EINTR); NAME(EIO); NAME(ENXIO);
	NAME(E2BIG); NAME(ENOEXEC); NAME(EBADF); NAME(ECHILD); NAME(EAGAIN); NAME(ENOMEM);
	NAME(EACCES); NAME(EFAULT); NAME(EBUSY); NAME(EEXIST); NAME(ENODEV); NAME(ENOTDIR);
	NAME(EISDIR); NAME(EINVAL); NAME(ENFILE); NAME(EMFILE); NAME(ENOTTY); NAME(ETXTBSY);
	NAME(EFBIG); NAME(ENOSPC); NAME(ESPIPE); NAME(EROFS); NAME(EPIPE); NAME(EDOM);
	NAME(ERANGE); NAME(ENOSYS); NAME(EOVERFLOW); NAME(EKEYREJECTED);
	NAME(ENOKEY); NAME(EOPNOTSUPP); NAME(ETIMEDOUT); NAME(ENOMSG); NAME(EILSEQ);
#undef NAME
	}
	snprintf(unknown, sizeof(unknown), "errno %d", err);
	return unknown;
}

#endif
