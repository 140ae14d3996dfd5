// SPDX-License-Identifier: GPL-2.0
/*
 * qrxvxd: Quorix's kernel driver for AMD K6-family processors.
 *
 * Quorix shows and tunes the model-specific features of the K6 family. The
 * privileged part of that work lives here: reading and writing five AMD
 * model-specific registers, reading CR0, switching the L1 and L2 caches,
 * counting clock cycles over an interval, the one output to the
 * power-management port that changes the clock multiplier, and telling what
 * the driver knows of the machine. User space sends each request as one ioctl
 * on the misc device /dev/qrxvxd (see qrxvxd.h).
 *
 * The device belongs to group quorix, and membership must never mean more
 * than reading the features and changing them within the rules of
 * qrxvxd_rules.h: no request runs code in the kernel, reaches a port or
 * register that is not a feature's own, writes memory, or changes a bit that
 * is not a feature bit. The worst a member can do is slow the machine down.
 * The driver also never fights the kernel: ranges the kernel's MTRR layer
 * holds, and a multiplier a cpufreq driver manages, are left alone.
 *
 * Everything a caller gives is checked before the processor is touched, and
 * every MSR access goes through the fault-safe helpers, so a processor that
 * refuses an access fails the request with EIO instead of bringing the
 * machine down.
 */
#define pr_fmt(fmt) KBUILD_MODNAME ": " fmt

#include <linux/cpu.h>
#include <linux/cpufreq.h>
#include <linux/cpumask.h>
#include <linux/delay.h>
#include <linux/fs.h>
#include <linux/hrtimer.h>
#include <linux/io.h>
#include <linux/ioport.h>
#include <linux/miscdevice.h>
#include <linux/mm.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/pci.h>
#include <linux/sched/signal.h>
#include <linux/security.h>
#include <linux/smp.h>
#include <linux/uaccess.h>
#include <asm/cpu_device_id.h>
#include <asm/msr.h>
#include <asm/processor.h>
#include <asm/special_insns.h>
#include <asm/tsc.h>

#include "qrxvxd.h"
#include "qrxvxd_rules.h"

#define K6_EFER_L2_DISABLE	BIT(4)

/* The multiplier output changes the clock when bit 9 and any of 31..12 are set. */
#define K6_PM_CHANGE		BIT(9)
#define K6_PM_CHANGE_HIGH	0xfffff000u
#define K6_PM_RATIO(v)		(((v) >> 5) & 7)

#define CLOCK_INTERVAL_MAX_MS	1000
/* How late the clock measurement may wake up; a few microseconds in 50 ms. */
#define CLOCK_SLACK_NS		(20 * NSEC_PER_USEC)

#define MIB			(1024 * 1024)

/*
 * The processors served: AMD-K6 (models 6 and 7), AMD-K6-2 (8), AMD-K6-III (9)
 * and AMD-K6-2+/AMD-K6-III+ (13). The table also gives the module its CPU
 * modalias, so udev loads it at boot on exactly these processors.
 */
static const struct x86_cpu_id qrxvxd_cpu_ids[] = {
	X86_MATCH_VENDOR_FAM_MODEL(AMD, 5, 6, NULL),
	X86_MATCH_VENDOR_FAM_MODEL(AMD, 5, 7, NULL),
	X86_MATCH_VENDOR_FAM_MODEL(AMD, 5, 8, NULL),
	X86_MATCH_VENDOR_FAM_MODEL(AMD, 5, 9, NULL),
	X86_MATCH_VENDOR_FAM_MODEL(AMD, 5, 13, NULL),
	{}
};
MODULE_DEVICE_TABLE(x86cpu, qrxvxd_cpu_ids);

/* Requests come from several processes; each runs alone. */
static DEFINE_MUTEX(qrxvxd_lock);

/*
 * Installed memory does not change while a K6 runs (it has no memory
 * hotplug), so it is learnt once, at load.
 */
static u32 ram_top_mb;
static bool hole_is_ram;

/*
 * The ranges Quorix set through or beside the kernel's MTRR layer, by the
 * half they landed in; any other range there belongs to someone else. A
 * write-combined range carries the layer's handle, an uncached one none.
 */
static struct {
	bool set;
	u32 half;
	int wc_handle;
} our_range[2];

/* The multiplier the kernel's delay loop and clock were last right for. */
static struct {
	unsigned int ratio;	/* times ten, 0 before the first change */
	unsigned long lpj, boot_lpj;
	unsigned int tsc_khz, cpu_khz;
} clock_ref;

/* The port code's multiplier times ten (the K6-2+/III+ table). */
static const u8 k6_ratio_x10[8] = { 45, 50, 40, 55, 20, 30, 60, 35 };

static bool mtrr_layer(void)
{
	/* The layer takes the K6's ranges exactly when the processor has no
	 * MTRRs of its own and the CXT core's pair (see mtrr_bp_init).
	 */
	return IS_ENABLED(CONFIG_MTRR) && boot_cpu_has(X86_FEATURE_K6_MTRR) &&
	       !boot_cpu_has(X86_FEATURE_MTRR);
}

static const char *cpufreq_driver_name(void)
{
#ifdef CONFIG_CPU_FREQ
	return cpufreq_get_current_driver();
#else
	return NULL;
#endif
}

static int read_msr(u32 msr, u64 *value)
{
	int err;

	preempt_disable();
	err = rdmsrl_safe(msr, value);
	preempt_enable();
	if (err) {
		pr_warn_ratelimited("the processor refused reading register %08X\n", msr);
		return -EIO;
	}
	return 0;
}

static int write_msr(u32 msr, u64 value)
{
	int err;

	preempt_disable();
	err = wrmsrl_safe(msr, value);
	preempt_enable();
	if (err) {
		pr_warn_ratelimited("the processor refused writing %016llX to register %08X\n",
				    value, msr);
		return -EIO;
	}
	return 0;
}

/*
 * WHCR and UWCCR decide how the processor treats memory: the caches must be
 * written back first and nothing may run between, as the kernel's own writers
 * (init_amd_k6, amd_set_mtrr) do it.
 */
static int write_msr_cache_safe(u32 msr, u64 value)
{
	unsigned long flags;
	int err;

	local_irq_save(flags);
	wbinvd();
	err = wrmsrl_safe(msr, value);
	local_irq_restore(flags);
	if (err) {
		pr_warn_ratelimited("the processor refused writing %016llX to register %08X\n",
				    value, msr);
		return -EIO;
	}
	return 0;
}

/* The highest MiB below 4 GiB with any System RAM in it, plus one. */
static u32 find_ram_top_mb(void)
{
	u32 mb;

	for (mb = 4095; mb > 0; mb--)
		if (region_intersects((resource_size_t)mb * MIB, MIB, IORESOURCE_SYSTEM_RAM,
				      IORES_DESC_NONE) != REGION_DISJOINT)
			return mb + 1;
	return 1;
}

/*
 * Which ranges someone else holds. A range Quorix set that no longer reads
 * back as it was set was changed by someone else, and is theirs from then on.
 */
static u32 held_ranges(u64 uwccr)
{
	static const u32 held[2] = { QRXVXD_RANGE0_KERNEL, QRXVXD_RANGE1_KERNEL };
	u32 flags = 0;
	int r;

	for (r = 0; r < 2; r++) {
		u32 half = qrxvxd_uwccr_half(uwccr, r);

		if (our_range[r].set && our_range[r].half != half)
			our_range[r].set = false;
		if ((half & QRXVXD_RANGE_TYPE_MASK) && !our_range[r].set)
			flags |= held[r];
	}
	return flags;
}

/* Display adapters' prefetchable memory windows below 4 GiB. */
static void find_windows(struct qrxvxd_machine *m)
{
	struct pci_dev *pdev = NULL;
	int i;

	for_each_pci_dev(pdev) {
		if ((pdev->class >> 16) != PCI_BASE_CLASS_DISPLAY)
			continue;
		for (i = 0; i < PCI_STD_NUM_BARS; i++) {
			const struct resource *r = &pdev->resource[i];

			if (m->window_count == ARRAY_SIZE(m->windows)) {
				pci_dev_put(pdev);
				return;
			}
			if ((r->flags & (IORESOURCE_MEM | IORESOURCE_PREFETCH)) !=
			    (IORESOURCE_MEM | IORESOURCE_PREFETCH) || !r->start ||
			    (u64)r->end > U32_MAX)
				continue;
			m->windows[m->window_count].base = (u32)r->start;
			m->windows[m->window_count].size = (u32)resource_size(r);
			m->window_count++;
		}
	}
}

/* What the rules need to know; the ranges' owners only when UWCCR exists. */
static int machine_facts(struct qrxvxd_machine *m, bool windows)
{
	u64 uwccr;
	int err;

	memset(m, 0, sizeof(*m));
	m->ram_top_mb = ram_top_mb;
	if (hole_is_ram)
		m->flags |= QRXVXD_HOLE_IS_RAM;
	if (cpufreq_driver_name())
		m->flags |= QRXVXD_CPUFREQ;
	if (mtrr_layer()) {
		m->flags |= QRXVXD_MTRR_KERNEL;
		err = read_msr(QRXVXD_MSR_UWCCR, &uwccr);
		if (err)
			return err;
		m->flags |= held_ranges(uwccr);
	}
	if (windows)
		find_windows(m);
	return 0;
}

static int req_machine(const u32 *in, u32 *out)
{
	struct qrxvxd_machine m;
	int err = machine_facts(&m, true);

	if (!err)
		memcpy(out, &m, sizeof(m));
	return err;
}

static int req_read_msr(const u32 *in, u32 *out)
{
	u64 value;
	int err;

	switch (in[0]) {
	case QRXVXD_MSR_EFER:
	case QRXVXD_MSR_WHCR:
	case QRXVXD_MSR_UWCCR:
	case QRXVXD_MSR_EPMR:
	case QRXVXD_MSR_PSOR:
		break;
	default:
		pr_notice_ratelimited("refused reading register %08X: not one of ours\n", in[0]);
		return -EPERM;
	}
	err = read_msr(in[0], &value);
	if (!err) {
		out[0] = upper_32_bits(value);
		out[1] = lower_32_bits(value);
	}
	return err;
}

static int write_efer(u64 wanted)
{
	u64 now;
	int err = read_msr(QRXVXD_MSR_EFER, &now);

	if (err)
		return err;
	return write_msr(QRXVXD_MSR_EFER, qrxvxd_efer_merge(now, wanted));
}

static int write_whcr(u64 wanted)
{
	const struct cpuinfo_x86 *c = &boot_cpu_data;
	struct qrxvxd_whcr_layout layout;
	struct qrxvxd_machine m;
	u64 now, merged;
	int err;

	if (qrxvxd_whcr_layout_of(c->x86_model, c->x86_stepping, &layout))
		return -EIO;
	err = machine_facts(&m, false);
	if (!err)
		err = read_msr(QRXVXD_MSR_WHCR, &now);
	if (err)
		return err;
	err = qrxvxd_whcr_merge(&m, &layout, now, wanted, &merged);
	if (err) {
		pr_notice_ratelimited("refused write allocation up to %u MiB%s: %u MiB installed%s\n",
				      qrxvxd_whcr_limit_mb(&layout, wanted),
				      ((u32)wanted & layout.hole_bit) ? " with 15-16 MiB" : "",
				      ram_top_mb,
				      hole_is_ram ? "" : ", 15-16 MiB is no memory");
		return err;
	}
	return write_msr_cache_safe(QRXVXD_MSR_WHCR, merged);
}

/* Takes a range Quorix set back out of the kernel's MTRR layer, or out of UWCCR. */
static int drop_our_range(int r)
{
	u64 uwccr;
	int err;

	if (our_range[r].wc_handle > 0) {
		arch_phys_wc_del(our_range[r].wc_handle);
	} else {
		err = read_msr(QRXVXD_MSR_UWCCR, &uwccr);
		if (err)
			return err;
		uwccr &= r ? 0x00000000ffffffffull : 0xffffffff00000000ull;
		err = write_msr_cache_safe(QRXVXD_MSR_UWCCR, uwccr);
		if (err)
			return err;
	}
	our_range[r].set = false;
	our_range[r].wc_handle = 0;
	return 0;
}

/* Where the layer put a write-combined range, and under which handle. */
static int note_wc_range(int handle, u32 half)
{
	int i = arch_phys_wc_index(handle);
	u64 uwccr;
	int err;

	if (i < 0 || i > 1) {
		arch_phys_wc_del(handle);
		return -EIO;
	}
	err = read_msr(QRXVXD_MSR_UWCCR, &uwccr);
	our_range[i].set = true;
	our_range[i].half = err ? half : qrxvxd_uwccr_half(uwccr, i);
	our_range[i].wc_handle = handle;
	return err;
}

/*
 * Whether the kernel's MTRR layer takes a range: off, or uncached or
 * write-combined (not both) over one block, a power of two aligned to its
 * size. Checked before anything changes.
 */
static bool layer_takes(u32 half)
{
	u32 type = half & QRXVXD_RANGE_TYPE_MASK;
	u64 first, last;
	u32 below;

	if (!qrxvxd_range_span(half, &first, &last))
		return true;
	below = (u32)(last - first);
	return type != QRXVXD_RANGE_TYPE_MASK && !(below & (below + 1)) &&
	       ((half >> 17) << 17) == (u32)first;
}

/*
 * Adds a range through the kernel's MTRR layer (see layer_takes). A write-combined range goes
 * through the layer's own interface for it, which may put it in either half.
 * An uncached one has no interface outside the kernel's core, so it goes
 * straight into a half the layer has free (the layer reads the halves from
 * the processor, so /proc/mtrr shows it), the wanted half first.
 */
static int add_our_range(int r, u32 half)
{
	u64 first, last, uwccr;
	int handle, err, i;

	if (!qrxvxd_range_span(half, &first, &last))
		return 0;
	if ((half & QRXVXD_RANGE_TYPE_MASK) == QRXVXD_RANGE_WRCOMB) {
		handle = arch_phys_wc_add((unsigned long)first, (unsigned long)(last - first + 1));
		if (handle < 0)
			return -EBUSY;
		/* 0: the page attribute table, not the layer, gives write combining
		 * (only a virtual K6 has one); the range then goes in like an
		 * uncached one.
		 */
		if (handle > 0)
			return note_wc_range(handle, half);
	}
	err = read_msr(QRXVXD_MSR_UWCCR, &uwccr);
	if (err)
		return err;
	for (i = r; i < r + 2; i++) {
		int h = i % 2;

		if (qrxvxd_uwccr_half(uwccr, h) & QRXVXD_RANGE_TYPE_MASK)
			continue;
		uwccr = h ? (uwccr & 0xffffffffull) | ((u64)half << 32) :
			    (uwccr & 0xffffffff00000000ull) | half;
		err = write_msr_cache_safe(QRXVXD_MSR_UWCCR, uwccr);
		if (err)
			return err;
		our_range[h].set = true;
		our_range[h].half = half;
		our_range[h].wc_handle = 0;
		return 0;
	}
	return -EBUSY;
}

/*
 * After the layer refused a new range, the ranges Quorix had are put back as
 * they were, as far as the layer takes them again, so a refusal changes
 * nothing. A new range that did go in comes out first.
 */
static void restore_ranges(u64 before, const bool *changes)
{
	int r;

	for (r = 0; r < 2; r++)
		if (changes[r] && our_range[r].set)
			drop_our_range(r);
	for (r = 0; r < 2; r++)
		if (changes[r] && (qrxvxd_uwccr_half(before, r) & QRXVXD_RANGE_TYPE_MASK) &&
		    add_our_range(r, qrxvxd_uwccr_half(before, r)))
			pr_warn_ratelimited("could not put range %d (%08X) back\n", r,
					    qrxvxd_uwccr_half(before, r));
}

static int write_uwccr(u64 wanted)
{
	struct qrxvxd_machine m;
	u64 now, first, last;
	bool changes[2];
	int err, r;

	err = machine_facts(&m, false);
	if (!err)
		err = read_msr(QRXVXD_MSR_UWCCR, &now);
	if (err)
		return err;
	err = qrxvxd_uwccr_check(&m, now, wanted);
	if (err) {
		for (r = 0; r < 2; r++)
			if (qrxvxd_uwccr_half(now, r) != qrxvxd_uwccr_half(wanted, r) &&
			    qrxvxd_range_span(qrxvxd_uwccr_half(wanted, r), &first, &last))
				pr_notice_ratelimited("refused range %d at %08llX-%08llX: %s\n", r,
						      first, last, err == -EBUSY ?
						      "the kernel holds a range there (see /proc/mtrr)" :
						      "write combining over System RAM");
		return err;
	}
	if (!(m.flags & QRXVXD_MTRR_KERNEL))
		return now == wanted ? 0 : write_msr_cache_safe(QRXVXD_MSR_UWCCR, wanted);

	for (r = 0; r < 2; r++) {
		changes[r] = qrxvxd_uwccr_half(now, r) != qrxvxd_uwccr_half(wanted, r);
		if (changes[r] && !layer_takes(qrxvxd_uwccr_half(wanted, r))) {
			pr_notice_ratelimited("refused range %d (%08X): the kernel's MTRR layer takes only one block, a power of two aligned to its size, uncached or write-combined\n",
					      r, qrxvxd_uwccr_half(wanted, r));
			return -EINVAL;
		}
	}
	/* Through the layer: out with the old ranges first, so the new ones find room. */
	for (r = 0; r < 2; r++) {
		if (changes[r] && our_range[r].set) {
			err = drop_our_range(r);
			if (err)
				return err;
		}
	}
	for (r = 0; r < 2; r++) {
		if (!changes[r])
			continue;
		err = add_our_range(r, qrxvxd_uwccr_half(wanted, r));
		if (err) {
			pr_notice_ratelimited("the kernel's MTRR layer refused range %d (%08X): error %d\n",
					      r, qrxvxd_uwccr_half(wanted, r), err);
			restore_ranges(now, changes);
			return err;
		}
	}
	return 0;
}

static int write_epmr(u64 wanted)
{
	u64 now, merged;
	int err = read_msr(QRXVXD_MSR_EPMR, &now);

	if (err)
		return err;
	err = qrxvxd_epmr_merge(now, wanted, &merged);
	if (err) {
		pr_notice_ratelimited("refused moving the power-management block to %04llX: it lives only at %04X\n",
				      wanted & QRXVXD_EPMR_BASE_MASK, QRXVXD_PM_BASE);
		return err;
	}
	return write_msr(QRXVXD_MSR_EPMR, merged);
}

static int req_write_msr(const u32 *in, u32 *out)
{
	u64 wanted = ((u64)in[1] << 32) | in[2];

	switch (in[0]) {
	case QRXVXD_MSR_EFER:
		return write_efer(wanted);
	case QRXVXD_MSR_WHCR:
		return write_whcr(wanted);
	case QRXVXD_MSR_UWCCR:
		return write_uwccr(wanted);
	case QRXVXD_MSR_EPMR:
		return write_epmr(wanted);
	}
	pr_notice_ratelimited("refused writing register %08X: not one of ours\n", in[0]);
	return -EPERM;
}

static void clock_sample(ktime_t *time, u64 *cycles)
{
	unsigned long flags;

	/* Both readings as close together as the processor allows. */
	local_irq_save(flags);
	*time = ktime_get();
	*cycles = rdtsc_ordered();
	local_irq_restore(flags);
}

/*
 * Counts time-stamp-counter cycles over an interval measured with the kernel's
 * monotonic clock. The caller sleeps meanwhile (a spin of up to a second would
 * stall a uniprocessor K6) and a signal ends the measurement.
 */
static int req_measure_clock(const u32 *in, u32 *out)
{
	ktime_t start, end, deadline;
	u64 c0, c1, cycles;

	if (in[0] < 1 || in[0] > CLOCK_INTERVAL_MAX_MS)
		return -EINVAL;
	if (!boot_cpu_has(X86_FEATURE_TSC))
		return -EIO;

	clock_sample(&start, &c0);
	deadline = ktime_add_ms(start, in[0]);
	for (;;) {
		set_current_state(TASK_INTERRUPTIBLE);
		if (signal_pending(current)) {
			__set_current_state(TASK_RUNNING);
			return -EINTR;
		}
		/* 0 once the deadline passed; an early wake-up sleeps again. */
		if (!schedule_hrtimeout_range(&deadline, CLOCK_SLACK_NS,
					      HRTIMER_MODE_ABS))
			break;
	}
	clock_sample(&end, &c1);

	cycles = c1 - c0;
	if (cycles > U32_MAX)
		return -EOVERFLOW;
	/* Rounded to the nearest millisecond, so the caller's cycles per
	 * millisecond err by at most half a millisecond's worth.
	 */
	out[0] = (u32)div_u64(ktime_to_ns(ktime_sub(end, start)) + NSEC_PER_MSEC / 2,
			      NSEC_PER_MSEC);
	out[1] = (u32)cycles;
	return 0;
}

/*
 * The kernel's delay loop and clock follow the multiplier, as its cpufreq
 * core has them do (time_cpufreq_notifier): scaled from the values they had
 * at the first change, so rounding never piles up, and the time-stamp counter
 * no longer trusted as a clock. Called before a change that speeds up and
 * after one that slows down, so a delay is never too short.
 */
static void tell_kernel(unsigned int ratio)
{
	if (!ratio || ratio == clock_ref.ratio)
		return;
	boot_cpu_data.loops_per_jiffy =
		(unsigned long)div_u64((u64)clock_ref.boot_lpj * ratio, clock_ref.ratio);
	loops_per_jiffy = (unsigned long)div_u64((u64)clock_ref.lpj * ratio, clock_ref.ratio);
	tsc_khz = (unsigned int)div_u64((u64)clock_ref.tsc_khz * ratio, clock_ref.ratio);
	cpu_khz = (unsigned int)div_u64((u64)clock_ref.cpu_khz * ratio, clock_ref.ratio);
}

/*
 * The multiplier changes through one 32-bit output to FFF8h, the port of the
 * power-management block. It changes as the kernel's own K6 frequency driver
 * (powernow-k6) changes it: the processor does not answer inquiry cycles
 * while its clock changes, so interrupts are off and the L1 cache is off and
 * written back meanwhile; the block is opened at FFF0h for the output and
 * EPMR put back as it was; and the voltage bits stay the board's.
 */
static int req_port_output(const u32 *in, u32 *out)
{
	const u64 open_bits = QRXVXD_EPMR_ENABLE | QRXVXD_EPMR_BASE_MASK;
	unsigned int old_ratio = 0, new_ratio = 0;
	unsigned long flags, cr0;
	const char *governor;
	u32 now, value;
	u64 epmr;
	int err;

	if (qrxvxd_port_check(in[0])) {
		pr_notice_ratelimited("refused output to port %X: only the multiplier port %X\n",
				      in[0], QRXVXD_PM_PORT);
		return -EPERM;
	}
	governor = cpufreq_driver_name();
	if (governor) {
		pr_notice_ratelimited("refused changing the multiplier: cpufreq driver %s manages it\n",
				      governor);
		return -EBUSY;
	}
	err = read_msr(QRXVXD_MSR_EPMR, &epmr);
	if (err)
		return err;

	local_irq_save(flags);
	cr0 = read_cr0();
	write_cr0(cr0 | X86_CR0_CD);
	wbinvd();
	if (!qrxvxd_pm_open(epmr))
		err = wrmsrl_safe(QRXVXD_MSR_EPMR, (epmr & ~open_bits) | QRXVXD_EPMR_ENABLE |
				  QRXVXD_PM_BASE);
	if (!err) {
		now = inl(QRXVXD_PM_PORT);
		value = qrxvxd_port_value(now, in[1]);
		old_ratio = k6_ratio_x10[K6_PM_RATIO(now)];
		if ((value & K6_PM_CHANGE) && (value & K6_PM_CHANGE_HIGH))
			new_ratio = k6_ratio_x10[K6_PM_RATIO(value)];
		if (!clock_ref.ratio) {
			clock_ref.ratio = old_ratio;
			clock_ref.boot_lpj = boot_cpu_data.loops_per_jiffy;
			clock_ref.lpj = loops_per_jiffy;
			clock_ref.tsc_khz = tsc_khz;
			clock_ref.cpu_khz = cpu_khz;
		}
		if (new_ratio > old_ratio)
			tell_kernel(new_ratio);
		outl(value, QRXVXD_PM_PORT);
		if (new_ratio && new_ratio < old_ratio)
			tell_kernel(new_ratio);
		if (!qrxvxd_pm_open(epmr))
			err = wrmsrl_safe(QRXVXD_MSR_EPMR, epmr);
	}
	write_cr0(cr0);
	local_irq_restore(flags);

	if (err) {
		pr_warn_ratelimited("the processor refused opening the power-management block\n");
		return -EIO;
	}
	if (new_ratio && new_ratio != old_ratio)
		mark_tsc_unstable("the K6 multiplier changed");
	return 0;
}

static int req_read_cr0(const u32 *in, u32 *out)
{
	out[0] = (u32)read_cr0();
	return 0;
}

static void l1_cache_on(void *unused)
{
	write_cr0(read_cr0() & ~X86_CR0_CD);
}

/* With CD set no new lines are filled; the flush then empties the cache. */
static void l1_cache_off(void *unused)
{
	write_cr0(read_cr0() | X86_CR0_CD);
	wbinvd();
}

static int set_on_each_cpu(const u32 *in, smp_call_func_t on, smp_call_func_t off)
{
	if (in[0] > 1)
		return -EINVAL;
	cpus_read_lock();
	on_each_cpu(in[0] ? on : off, NULL, 1);
	cpus_read_unlock();
	return 0;
}

static int req_set_l1_cache(const u32 *in, u32 *out)
{
	return set_on_each_cpu(in, l1_cache_on, l1_cache_off);
}

/* Set by any CPU whose processor refused the L2 switch. */
static atomic_t l2_switch_faults;

static void l2_cache_switch(bool on)
{
	u32 low, high;

	if (rdmsr_safe(QRXVXD_MSR_EFER, &low, &high))
		goto fault;
	if (on) {
		low &= ~K6_EFER_L2_DISABLE;
	} else {
		/* Dirty lines must reach memory before the L2 cache stops
		 * answering for them.
		 */
		wbinvd();
		low |= K6_EFER_L2_DISABLE;
	}
	if (wrmsr_safe(QRXVXD_MSR_EFER, low, high))
		goto fault;
	return;
fault:
	atomic_inc(&l2_switch_faults);
}

static void l2_cache_on(void *unused)
{
	l2_cache_switch(true);
}

static void l2_cache_off(void *unused)
{
	l2_cache_switch(false);
}

static int req_set_l2_cache(const u32 *in, u32 *out)
{
	int err;

	atomic_set(&l2_switch_faults, 0);
	err = set_on_each_cpu(in, l2_cache_on, l2_cache_off);
	if (!err && atomic_read(&l2_switch_faults)) {
		pr_warn_ratelimited("the processor refused switching the L2 cache %s\n",
				    in[0] ? "on" : "off");
		return -EIO;
	}
	return err;
}

struct qrxvxd_op {
	u32 in_size;
	u32 out_size;
	bool changes;	/* needs a writable descriptor and no lockdown */
	int (*run)(const u32 *in, u32 *out);
};

static const struct qrxvxd_op qrxvxd_ops[] = {
	[QRXVXD_READ_MSR]	= { 4, 8, false, req_read_msr },
	[QRXVXD_WRITE_MSR]	= { 12, 0, true, req_write_msr },
	[QRXVXD_MEASURE_CLOCK]	= { 4, 8, false, req_measure_clock },
	[QRXVXD_READ_CR0]	= { 0, 4, false, req_read_cr0 },
	[QRXVXD_SET_L1_CACHE]	= { 4, 0, true, req_set_l1_cache },
	[QRXVXD_SET_L2_CACHE]	= { 4, 0, true, req_set_l2_cache },
	[QRXVXD_PORT_OUTPUT]	= { 8, 0, true, req_port_output },
	[QRXVXD_MACHINE]	= { 0, sizeof(struct qrxvxd_machine), false, req_machine },
};

#define QRXVXD_MAX_IN	12
#define QRXVXD_MAX_OUT	sizeof(struct qrxvxd_machine)

/*
 * A buffer the table says is absent must be given as absent; one it needs
 * must be present. A 32-bit kernel cannot reach an address above 4 GiB.
 */
static int user_buffer(u64 addr, u32 size, void __user **buf)
{
	if (!size)
		return addr ? -EINVAL : 0;
	if (!addr || addr != (u64)(unsigned long)addr)
		return -EFAULT;
	*buf = u64_to_user_ptr(addr);
	return 0;
}

/*
 * A bad input address fails before anything happens. A bad output address
 * is found only when the output is copied out, after the request ran: only
 * reads have output, so nothing changed then, but part of the output may
 * already be written.
 */
static long qrxvxd_ioctl(struct file *file, unsigned int cmd, unsigned long arg)
{
	struct qrxvxd_request req;
	const struct qrxvxd_op *op;
	void __user *in = NULL, *out = NULL;
	u32 in_buf[QRXVXD_MAX_IN / 4] = {}, out_buf[QRXVXD_MAX_OUT / 4] = {};
	int err;

	if (cmd != QRXVXD_REQUEST)
		return -ENOTTY;
	if (copy_from_user(&req, (void __user *)arg, sizeof(req)))
		return -EFAULT;
	if (req.reserved || !req.code || req.code >= ARRAY_SIZE(qrxvxd_ops))
		return -EINVAL;
	op = &qrxvxd_ops[req.code];
	if (req.in_size != op->in_size || req.out_size != op->out_size)
		return -EINVAL;
	err = user_buffer(req.in, req.in_size, &in);
	if (!err)
		err = user_buffer(req.out, req.out_size, &out);
	if (err)
		return err;
	if (op->changes) {
		if (!(file->f_mode & FMODE_WRITE))
			return -EBADF;
		/* As the kernel's own MSR driver: a locked-down kernel takes no MSR writes. */
		err = security_locked_down(LOCKDOWN_MSR);
		if (err)
			return err;
	}
	if (in && copy_from_user(in_buf, in, req.in_size))
		return -EFAULT;

	if (mutex_lock_interruptible(&qrxvxd_lock))
		return -EINTR;
	pr_debug("request %u%s%*ph\n", req.code, req.in_size ? ", input " : "",
		 (int)req.in_size, in_buf);
	err = op->run(in_buf, out_buf);
	mutex_unlock(&qrxvxd_lock);
	if (err)
		return err;

	if (out && copy_to_user(out, out_buf, req.out_size))
		return -EFAULT;
	return 0;
}

static const struct file_operations qrxvxd_fops = {
	.owner		= THIS_MODULE,
	.unlocked_ioctl	= qrxvxd_ioctl,
	/* The record is laid out alike for 32-bit and 64-bit callers. */
	.compat_ioctl	= compat_ptr_ioctl,
	.llseek		= noop_llseek,
};

static struct miscdevice qrxvxd_device = {
	.minor	= MISC_DYNAMIC_MINOR,
	.name	= "qrxvxd",
	.fops	= &qrxvxd_fops,
	.mode	= 0600,
};

/*
 * Where the module may load. On a 64-bit kernel C0000082h is not WHCR but the
 * system-call entry, and a virtual machine may well say family 5 there. Every
 * K6 is a uniprocessor: with one possible CPU none can come online later
 * without the cache state, and the multiplier and the clock stay one CPU's.
 */
static int __init qrxvxd_init(void)
{
	const struct cpuinfo_x86 *c = &boot_cpu_data;
	int err;

	BUILD_BUG_ON(sizeof(struct qrxvxd_request) != 32);
	BUILD_BUG_ON(offsetof(struct qrxvxd_request, in) != 16);
	BUILD_BUG_ON(offsetof(struct qrxvxd_request, out) != 24);
	BUILD_BUG_ON(sizeof(struct qrxvxd_machine) != 48);
	BUILD_BUG_ON(ARRAY_SIZE(qrxvxd_ops) != QRXVXD_MACHINE + 1);

	if (!IS_ENABLED(CONFIG_X86_32)) {
		pr_info("refused: not a 32-bit kernel (a K6 runs only 32-bit kernels)\n");
		return -ENODEV;
	}
	if (num_possible_cpus() != 1) {
		pr_info("refused: %u possible CPUs, and a K6 machine has exactly one\n",
			num_possible_cpus());
		return -ENODEV;
	}
	if (!x86_match_cpu(qrxvxd_cpu_ids)) {
		pr_info("refused: not an AMD K6-family processor (%s family %u model %u)\n",
			c->x86_vendor_id[0] ? c->x86_vendor_id : "unknown",
			c->x86, c->x86_model);
		return -ENODEV;
	}
	ram_top_mb = find_ram_top_mb();
	hole_is_ram = region_intersects(15 * MIB, MIB, IORESOURCE_SYSTEM_RAM,
					IORES_DESC_NONE) == REGION_INTERSECTS;
	err = misc_register(&qrxvxd_device);
	if (err) {
		pr_err("cannot create /dev/qrxvxd (error %d)\n", err);
		return err;
	}
	pr_info("AMD K6-family processor family %u model %u stepping %u, %u MiB, /dev/qrxvxd ready\n",
		c->x86, c->x86_model, c->x86_stepping, ram_top_mb);
	return 0;
}

/*
 * Ranges Quorix set stay as they are: they are the user's settings, and the
 * kernel's MTRR layer keeps them as its own from now on.
 */
static void __exit qrxvxd_exit(void)
{
	misc_deregister(&qrxvxd_device);
}

module_init(qrxvxd_init);
module_exit(qrxvxd_exit);

MODULE_DESCRIPTION("Quorix: model-specific features of AMD K6-family processors");
MODULE_LICENSE("GPL");
MODULE_VERSION("0.81");
