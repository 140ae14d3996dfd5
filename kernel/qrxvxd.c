// SPDX-License-Identifier: GPL-2.0
/*
 * qrxvxd: Quorix's kernel driver for AMD K6-family processors.
 *
 * Quorix shows and tunes the model-specific features of the K6 family. The
 * privileged part of that work lives here: reading and writing five AMD
 * model-specific registers, reading CR0, switching the L1 and L2 caches,
 * counting clock cycles over an interval, and the one output to the
 * power-management port that changes the clock multiplier. User space sends
 * each request as one ioctl on the misc device /dev/qrxvxd (see qrxvxd.h).
 *
 * Everything a caller gives is checked before the processor is touched:
 * registers and the port are held to an allow-list, and every MSR access goes
 * through the fault-safe helpers, so a processor that refuses an access fails
 * the request with EIO instead of bringing the machine down.
 */

#define pr_fmt(fmt) KBUILD_MODNAME ": " fmt

#include <linux/cpu.h>
#include <linux/fs.h>
#include <linux/hrtimer.h>
#include <linux/miscdevice.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/sched/signal.h>
#include <linux/smp.h>
#include <linux/uaccess.h>
#include <asm/cpu_device_id.h>
#include <asm/io.h>
#include <asm/msr.h>
#include <asm/processor.h>
#include <asm/special_insns.h>

#include "qrxvxd.h"

#define MSR_K6_EFER	0xc0000080	/* bit 4: L2 cache disable */
#define MSR_K6_WHCR	0xc0000082	/* write allocation */
#define MSR_K6_UWCCR	0xc0000085	/* memory-type ranges */
#define MSR_K6_EPMR	0xc0000086	/* power-management port enable, base */
#define MSR_K6_PSOR	0xc0000087	/* processor state (read only) */

#define K6_EFER_L2_DISABLE	BIT(4)
#define K6_EPMR_ENABLE		BIT(0)
#define K6_EPMR_BASE_MASK	0xfff0	/* bits 15..4, the base shifted by 4 */
#define K6_EPMR_PORT_OFFSET	8

#define CLOCK_INTERVAL_MAX_MS	1000
/* How late the clock measurement may wake up; a few microseconds in 50 ms. */
#define CLOCK_SLACK_NS		(20 * NSEC_PER_USEC)

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

static bool msr_readable(u32 msr)
{
	switch (msr) {
	case MSR_K6_EFER:
	case MSR_K6_WHCR:
	case MSR_K6_UWCCR:
	case MSR_K6_EPMR:
	case MSR_K6_PSOR:
		return true;
	}
	return false;
}

static bool msr_writable(u32 msr)
{
	return msr_readable(msr) && msr != MSR_K6_PSOR;
}

static int read_msr(u32 msr, u32 *high, u32 *low)
{
	int err;

	preempt_disable();
	err = rdmsr_safe(msr, low, high);
	preempt_enable();
	if (err) {
		pr_warn_ratelimited("the processor refused reading register %08X\n",
				    msr);
		return -EIO;
	}
	return 0;
}

static int req_read_msr(const u32 *in, u32 *out)
{
	if (!msr_readable(in[0])) {
		pr_notice_ratelimited("refused reading register %08X: not one of ours\n",
				      in[0]);
		return -EPERM;
	}
	return read_msr(in[0], &out[0], &out[1]);
}

static int req_write_msr(const u32 *in, u32 *out)
{
	int err;

	if (!msr_writable(in[0])) {
		pr_notice_ratelimited("refused writing register %08X: not one of ours\n",
				      in[0]);
		return -EPERM;
	}
	preempt_disable();
	err = wrmsr_safe(in[0], in[2], in[1]);
	preempt_enable();
	if (err) {
		pr_warn_ratelimited("the processor refused writing %08X%08X to register %08X\n",
				    in[1], in[2], in[0]);
		return -EIO;
	}
	return 0;
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

	if (rdmsr_safe(MSR_K6_EFER, &low, &high))
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
	if (wrmsr_safe(MSR_K6_EFER, low, high))
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

/*
 * The multiplier changes through one 32-bit output to base + 8 of the
 * power-management block, which exists only while EPMR enables it. EPMR is
 * read now, not remembered: the caller opens the block just before the output
 * and closes it after.
 */
static int req_port_output(const u32 *in, u32 *out)
{
	u32 low, high, port = 0;
	int err;

	preempt_disable();
	err = rdmsr_safe(MSR_K6_EPMR, &low, &high);
	if (!err && (low & K6_EPMR_ENABLE)) {
		port = (low & K6_EPMR_BASE_MASK) + K6_EPMR_PORT_OFFSET;
		if (in[0] == port)
			outl(in[1], port);
	}
	preempt_enable();

	if (err) {
		pr_warn_ratelimited("the processor refused reading register %08X\n",
				    MSR_K6_EPMR);
		return -EIO;
	}
	if (!port || in[0] != port) {
		pr_notice_ratelimited("refused output to port %X: the power-management port is %s\n",
				      in[0], port ? "elsewhere" : "closed");
		return -EPERM;
	}
	return 0;
}

struct qrxvxd_op {
	u32 in_size;
	u32 out_size;
	int (*run)(const u32 *in, u32 *out);
};

static const struct qrxvxd_op qrxvxd_ops[] = {
	[QRXVXD_READ_MSR]	= { 4, 8, req_read_msr },
	[QRXVXD_WRITE_MSR]	= { 12, 0, req_write_msr },
	[QRXVXD_MEASURE_CLOCK]	= { 4, 8, req_measure_clock },
	[QRXVXD_READ_CR0]	= { 0, 4, req_read_cr0 },
	[QRXVXD_SET_L1_CACHE]	= { 4, 0, req_set_l1_cache },
	[QRXVXD_SET_L2_CACHE]	= { 4, 0, req_set_l2_cache },
	[QRXVXD_PORT_OUTPUT]	= { 8, 0, req_port_output },
};

#define QRXVXD_MAX_IN	12
#define QRXVXD_MAX_OUT	8

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

	/* The output reaches the caller only when the request succeeded. */
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

static int __init qrxvxd_init(void)
{
	const struct cpuinfo_x86 *c = &boot_cpu_data;
	int err;

	BUILD_BUG_ON(sizeof(struct qrxvxd_request) != 32);
	BUILD_BUG_ON(offsetof(struct qrxvxd_request, in) != 16);
	BUILD_BUG_ON(offsetof(struct qrxvxd_request, out) != 24);
	BUILD_BUG_ON(ARRAY_SIZE(qrxvxd_ops) != QRXVXD_PORT_OUTPUT + 1);

	if (!x86_match_cpu(qrxvxd_cpu_ids)) {
		pr_info("not an AMD K6-family processor (%s family %u model %u)\n",
			c->x86_vendor_id[0] ? c->x86_vendor_id : "unknown",
			c->x86, c->x86_model);
		return -ENODEV;
	}
	err = misc_register(&qrxvxd_device);
	if (err) {
		pr_err("cannot create /dev/qrxvxd (error %d)\n", err);
		return err;
	}
	pr_info("AMD K6-family processor family %u model %u stepping %u, /dev/qrxvxd ready\n",
		c->x86, c->x86_model, c->x86_stepping);
	return 0;
}

static void __exit qrxvxd_exit(void)
{
	misc_deregister(&qrxvxd_device);
}

module_init(qrxvxd_init);
module_exit(qrxvxd_exit);

MODULE_DESCRIPTION("Quorix: model-specific features of AMD K6-family processors");
MODULE_LICENSE("GPL");
MODULE_VERSION("0.81");
