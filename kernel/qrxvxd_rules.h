/* SPDX-License-Identifier: GPL-2.0 WITH Linux-syscall-note */
/*
 * qrxvxd_rules: what a member of group quorix may write, as plain inline C
 * shared by the kernel driver, the simulated machine and the programs' check
 * before they write. One copy of the rules, so a program never promises what
 * the driver then refuses, and the simulation refuses exactly the same.
 *
 * Every check returns 0 when allowed, otherwise a negative errno.
 */
#ifndef QRXVXD_RULES_H
#define QRXVXD_RULES_H

#include "qrxvxd.h"

#ifdef __KERNEL__
#include <linux/errno.h>
#else
#include <errno.h>
#endif

#define QRXVXD_EFER			0xC0000080u
#define QRXVXD_WHCR			0xC0000082u
#define QRXVXD_UWCCR			0xC0000085u
#define QRXVXD_EPMR			0xC0000086u
#define QRXVXD_PSOR			0xC0000087u

/* EFER: data prefetch and write ordering (bits 1-3) are the caller's. */
#define QRXVXD_EFER_CALLER_BITS		0x0000000Eull
/* The power-management block has one home; the multiplier goes to base + 8. */
#define QRXVXD_PM_BASE			0xFFF0u
#define QRXVXD_PM_PORT			0xFFF8u

#define QRXVXD_MIB			0x100000ull

/*
 * EFER: every bit but the caller's keeps its current value, so a stale copy
 * can neither undo another program's change nor enable SYSCALL.
 */
static inline __u64 qrxvxd_merge_efer(__u64 current_value, __u64 requested)
{
	return (current_value & ~QRXVXD_EFER_CALLER_BITS) |
	       (requested & QRXVXD_EFER_CALLER_BITS);
}

/* WHCR's fields: K6 layout (models 6, 7, 8 before the CXT core) or CXT layout. */
static inline __u64 qrxvxd_whcr_fields(int k6_layout)
{
	return k6_layout ? 0x000000FFull : 0xFFC10000ull;
}

static inline __u32 qrxvxd_whcr_limit_mb(int k6_layout, __u64 whcr)
{
	__u32 low = (__u32)whcr;

	return k6_layout ? ((low >> 1) & 0x7Fu) * 4 : ((low >> 22) & 0x3FFu) * 4;
}

static inline int qrxvxd_whcr_hole(int k6_layout, __u64 whcr)
{
	return (whcr & (k6_layout ? 0x1ull : 0x10000ull)) != 0;
}

/* Only the layout's fields are the caller's. */
static inline __u64 qrxvxd_merge_whcr(int k6_layout, __u64 current_value, __u64 requested)
{
	__u64 fields = qrxvxd_whcr_fields(k6_layout);

	return (current_value & ~fields) | (requested & fields);
}

/* Is 15-16 MiB memory that write allocation may take in? */
static inline int qrxvxd_hole_is_ram(const struct qrxvxd_machine *m)
{
	return (m->flags & QRXVXD_HOLE_IS_RAM) && m->ram_top_mb >= 16;
}

/*
 * WHCR: a limit beyond the installed memory, or the 15-16 MiB bit where that
 * megabyte is not memory, would have the processor allocate lines for
 * addresses no memory answers.
 */
static inline int qrxvxd_check_whcr(const struct qrxvxd_machine *m, int k6_layout, __u64 whcr)
{
	if (qrxvxd_whcr_limit_mb(k6_layout, whcr) > m->ram_top_mb)
		return -ERANGE;
	if (qrxvxd_whcr_hole(k6_layout, whcr) && !qrxvxd_hole_is_ram(m))
		return -ERANGE;
	return 0;
}

/*
 * One half of UWCCR as an address range [*start, *end) (end may be 4 GiB).
 * False for a mask that is not one of the sixteen sizes: such a range covers
 * scattered addresses no rule can vouch for.
 */
static inline int qrxvxd_range_of(__u32 half, __u64 *start, __u64 *end)
{
	__u32 mask = (half >> 2) & 0x7FFFu;
	__u64 size = 0x20000ull;
	__u32 i;

	for (i = 0; i < 16; i++, size <<= 1) {
		if (((0x7FFFu << i) & 0x7FFFu) == mask) {
			*start = (half & 0xFFFE0000u) & ~(size - 1);
			*end = *start + size;
			return 1;
		}
	}
	return 0;
}

/* Does [start, end) overlap System RAM? */
static inline int qrxvxd_overlaps_ram(const struct qrxvxd_machine *m, __u64 start, __u64 end)
{
	__u64 top = (__u64)m->ram_top_mb * QRXVXD_MIB;
	__u64 hole_start = 15 * QRXVXD_MIB, hole_end = 16 * QRXVXD_MIB;

	if (start >= top)
		return 0;
	if (qrxvxd_hole_is_ram(m) || top <= hole_start)
		return 1;
	/* RAM is [0, 15 MiB) and [16 MiB, top): only a range inside the hole is clear. */
	return !(start >= hole_start && end <= hole_end);
}

/*
 * One range of UWCCR: write combining over memory reorders and merges the
 * writes of everything that lives there; uncached is merely slow and allowed
 * anywhere.
 */
static inline int qrxvxd_check_range(const struct qrxvxd_machine *m, __u32 half)
{
	__u64 start, end;

	if (!(half & 0x2u) || (half & 0x1u))
		return 0;
	if (!qrxvxd_range_of(half, &start, &end))
		return -ERANGE;
	return qrxvxd_overlaps_ram(m, start, end) ? -ERANGE : 0;
}

static inline int qrxvxd_check_uwccr(const struct qrxvxd_machine *m, __u64 uwccr)
{
	int result = qrxvxd_check_range(m, (__u32)uwccr);

	return result ? result : qrxvxd_check_range(m, (__u32)(uwccr >> 32));
}

/* EPMR: the block may be enabled only at its own base. */
static inline int qrxvxd_check_epmr(__u64 epmr)
{
	if ((epmr & 1u) && ((__u32)epmr & 0xFFF0u) != QRXVXD_PM_BASE)
		return -EPERM;
	return 0;
}

/* Request 7: output goes to the multiplier's port only. */
static inline int qrxvxd_check_port(__u32 port)
{
	return port == QRXVXD_PM_PORT ? 0 : -EPERM;
}

#endif /* QRXVXD_RULES_H */
