/* SPDX-License-Identifier: GPL-2.0 WITH Linux-syscall-note */
/*
 * qrxvxd_rules: what a member of group quorix may write to a K6, as plain
 * functions over integers and the machine's facts (struct qrxvxd_machine).
 *
 * The kernel driver applies them before it touches the processor, the
 * simulated machine applies the same ones, and user space uses them to tell a
 * refusal in the user's words. They never touch hardware, so user-space tests
 * prove every rule.
 *
 * Errors are negative errno values: -ERANGE for what would be unsafe on this
 * machine (write allocation over memory that is not there, write combining
 * over System RAM), -EPERM for what is never the caller's, -EBUSY for what
 * the kernel holds, -EINVAL for a request that does not apply.
 *
 * Only C that both the kernel and user space (C and C++) accept is used here.
 */
#ifndef QRXVXD_RULES_H
#define QRXVXD_RULES_H

#include <linux/errno.h>
#include <linux/types.h>

#include "qrxvxd.h"

#define QRXVXD_MSR_EFER		0xc0000080u
#define QRXVXD_MSR_WHCR		0xc0000082u
#define QRXVXD_MSR_UWCCR	0xc0000085u
#define QRXVXD_MSR_EPMR		0xc0000086u
#define QRXVXD_MSR_PSOR		0xc0000087u

/*
 * EFER: bits 1-3 (data prefetch, write ordering) are the caller's. Bit 0 would
 * enable SYSCALL, which enters the kernel at whatever STAR holds (a 32-bit
 * kernel never sets it); bit 4 (L2 off) changes only with its write-back, in
 * request 6. Every bit but 1-3 therefore keeps its value, whatever the caller
 * sends, and a stale copy cannot undo another program's change.
 */
#define QRXVXD_EFER_CALLER_BITS	0x0000000eull

static inline __u64 qrxvxd_efer_merge(__u64 now, __u64 wanted)
{
	return (now & ~QRXVXD_EFER_CALLER_BITS) | (wanted & QRXVXD_EFER_CALLER_BITS);
}

/*
 * WHCR comes in two layouts. The first K6 core (models 6 and 7, model 8
 * steppings 0-7) keeps the limit in bits 7..1 and the 15-16 MiB bit in bit 0;
 * the CXT core (model 8 steppings 8-15, models 9 and 13) the limit in bits
 * 31..22 and the 15-16 MiB bit in bit 16. The limit counts 4 MiB units.
 */
struct qrxvxd_whcr_layout {
	__u32 limit_shift;
	__u32 limit_mask;	/* the limit field, in place */
	__u32 hole_bit;		/* write allocation takes part in 15-16 MiB */
};

/*
 * The layout of a family-5 processor by its CPUID model and stepping; -EINVAL
 * when it has no WHCR.
 */
static inline int qrxvxd_whcr_layout_of(__u32 model, __u32 stepping,
					struct qrxvxd_whcr_layout *layout)
{
	if (model == 6 || model == 7 || (model == 8 && stepping < 8)) {
		layout->limit_shift = 1;
		layout->limit_mask = 0x000000feu;
		layout->hole_bit = 0x00000001u;
		return 0;
	}
	if (model == 8 || model == 9 || model == 13) {
		layout->limit_shift = 22;
		layout->limit_mask = 0xffc00000u;
		layout->hole_bit = 0x00010000u;
		return 0;
	}
	return -EINVAL;
}

/* The write-allocation limit a WHCR value holds, in MiB. */
static inline __u32 qrxvxd_whcr_limit_mb(const struct qrxvxd_whcr_layout *layout, __u64 whcr)
{
	return (((__u32)whcr & layout->limit_mask) >> layout->limit_shift) * 4;
}

/*
 * WHCR: the limit field and the 15-16 MiB bit are the caller's, every other
 * bit keeps its value. Write allocation above the installed memory, or over a
 * 15-16 MiB range that is no memory (a chipset's ISA hole), lets the processor
 * treat a device's reads and writes as memory's: refused with -ERANGE.
 * On success *merged is the value to write.
 */
static inline int qrxvxd_whcr_merge(const struct qrxvxd_machine *m,
				    const struct qrxvxd_whcr_layout *layout,
				    __u64 now, __u64 wanted, __u64 *merged)
{
	__u64 owned = (__u64)(layout->limit_mask | layout->hole_bit);

	if (qrxvxd_whcr_limit_mb(layout, wanted) > m->ram_top_mb)
		return -ERANGE;
	if (((__u32)wanted & layout->hole_bit) && !(m->flags & QRXVXD_HOLE_IS_RAM))
		return -ERANGE;
	*merged = (now & ~owned) | (wanted & owned);
	return 0;
}

/*
 * UWCCR holds two memory-type ranges, range 0 in the low half and range 1 in
 * the high half. A half: bits 31..17 the base, bits 16..2 a mask of the
 * address bits 31..17 that take part in the match, bit 1 write combining,
 * bit 0 uncached. With neither type bit the range is off.
 */
#define QRXVXD_RANGE_UNCACHED	0x1u
#define QRXVXD_RANGE_WRCOMB	0x2u
#define QRXVXD_RANGE_TYPE_MASK	0x3u

static inline __u32 qrxvxd_uwccr_half(__u64 uwccr, unsigned int range)
{
	return range ? (__u32)(uwccr >> 32) : (__u32)uwccr;
}

/*
 * The lowest and highest byte a range half can match. The base bits outside
 * the mask do not take part, and a mask with gaps matches a subset of this
 * span, so the span is never smaller than what the processor matches. Returns
 * 0 for a range that is off.
 */
static inline int qrxvxd_range_span(__u32 half, __u64 *first, __u64 *last)
{
	__u32 mask = ((half >> 2) & 0x7fffu) << 17;

	if (!(half & QRXVXD_RANGE_TYPE_MASK))
		return 0;
	*first = half & mask;
	*last = (__u64)((half & mask) | ~mask);
	return 1;
}

/* Whether [first, last] meets [start, end). */
static inline int qrxvxd_meets(__u64 first, __u64 last, __u64 start, __u64 end)
{
	return first <= last && first < end && last >= start;
}

/*
 * Whether any byte of [first, last] is System RAM. Without the finer map of
 * the firmware, that is: below 640 KiB, and from 1 MiB to the end of the
 * installed memory, less 15-16 MiB when that is a hole. 640 KiB to 1 MiB is
 * the display's legacy window and the ROMs.
 */
static inline int qrxvxd_overlaps_ram(const struct qrxvxd_machine *m, __u64 first, __u64 last)
{
	const __u64 mib = 1024 * 1024;
	__u64 top = (__u64)m->ram_top_mb * mib;

	if (qrxvxd_meets(first, last, 0, 640 * 1024))
		return 1;
	if (m->flags & QRXVXD_HOLE_IS_RAM)
		return qrxvxd_meets(first, last, mib, top);
	return qrxvxd_meets(first, last, mib, top < 15 * mib ? top : 15 * mib) ||
	       qrxvxd_meets(first, last, 16 * mib, top);
}

/*
 * One range half the caller wants: write combining over System RAM reorders
 * and merges the kernel's own stores to memory, so it is refused with
 * -ERANGE. Uncached is allowed anywhere: the worst it does is slow down.
 */
static inline int qrxvxd_range_check(const struct qrxvxd_machine *m, __u32 half)
{
	__u64 first, last;

	if (!(half & QRXVXD_RANGE_WRCOMB) || !qrxvxd_range_span(half, &first, &last))
		return 0;
	return qrxvxd_overlaps_ram(m, first, last) ? -ERANGE : 0;
}

/*
 * UWCCR: each half that would change is checked; an unchanged half is left
 * as it is, whatever it holds. A half someone else set (QRXVXD_RANGE0_KERNEL,
 * QRXVXD_RANGE1_KERNEL) is never changed, and no new range may overlap it
 * (the kernel's MTRR layer would refuse or share it): -EBUSY.
 */
static inline int qrxvxd_uwccr_check(const struct qrxvxd_machine *m, __u64 now, __u64 wanted)
{
	static const __u32 held[2] = { QRXVXD_RANGE0_KERNEL, QRXVXD_RANGE1_KERNEL };
	__u64 first, last, other_first, other_last;
	unsigned int range;
	int err;

	for (range = 0; range < 2; range++) {
		__u32 half = qrxvxd_uwccr_half(wanted, range);

		if (half == qrxvxd_uwccr_half(now, range))
			continue;
		if (m->flags & held[range])
			return -EBUSY;
		if ((m->flags & held[!range]) && qrxvxd_range_span(half, &first, &last) &&
		    qrxvxd_range_span(qrxvxd_uwccr_half(now, !range), &other_first, &other_last) &&
		    first <= other_last && other_first <= last)
			return -EBUSY;
		err = qrxvxd_range_check(m, half);
		if (err)
			return err;
	}
	return 0;
}

/*
 * EPMR: bit 0 enables the power-management block at the I/O base in bits
 * 15..4. Anywhere but FFF0h its eight ports would lie over another device's
 * (IDE, PCI configuration, the floppy), so enabling it elsewhere is refused
 * with -EPERM. Only the enable bit and the base are the caller's.
 */
#define QRXVXD_EPMR_ENABLE	0x1u
#define QRXVXD_EPMR_BASE_MASK	0xfff0u
#define QRXVXD_PM_BASE		0xfff0u
#define QRXVXD_PM_PORT		0xfff8u

static inline int qrxvxd_epmr_merge(__u64 now, __u64 wanted, __u64 *merged)
{
	const __u64 owned = QRXVXD_EPMR_ENABLE | QRXVXD_EPMR_BASE_MASK;

	if ((wanted & QRXVXD_EPMR_ENABLE) && (wanted & QRXVXD_EPMR_BASE_MASK) != QRXVXD_PM_BASE)
		return -EPERM;
	*merged = (now & ~owned) | (wanted & owned);
	return 0;
}

/* Whether EPMR has the power-management block open at its one place. */
static inline int qrxvxd_pm_open(__u64 epmr)
{
	return (epmr & (QRXVXD_EPMR_ENABLE | QRXVXD_EPMR_BASE_MASK)) ==
	       (QRXVXD_EPMR_ENABLE | QRXVXD_PM_BASE);
}

/* Request 7 writes only the multiplier port, FFF8h: -EPERM for any other. */
static inline int qrxvxd_port_check(__u32 port)
{
	return port == QRXVXD_PM_PORT ? 0 : -EPERM;
}

/*
 * The multiplier output: bits 4..0 of the port carry the core voltage, which
 * the board, not the caller, decides; they are taken from the port's value
 * read just before, as the kernel's own K6 frequency driver does.
 */
#define QRXVXD_PM_VOLTAGE_MASK	0x1fu

static inline __u32 qrxvxd_port_value(__u32 port_now, __u32 wanted)
{
	return (wanted & ~QRXVXD_PM_VOLTAGE_MASK) | (port_now & QRXVXD_PM_VOLTAGE_MASK);
}

#endif /* QRXVXD_RULES_H */
