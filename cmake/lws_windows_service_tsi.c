extern void lws_client_conn_wait_timeout(lws_sorted_usec_list_t *sul);

/* as in lws_windows_fds.c: slots with an event of their own */
#define LWS_WIN_OWN_EVENTS (WSA_MAXIMUM_WAIT_EVENTS - 2)

/*
 * What socket n of pt->fds has recorded, into its revents. event is the
 * socket's own event, which the reading resets, or NULL for the shared one,
 * which the caller resets first. 1: the slot now holds another socket (the
 * wsi closed) and is to be looked at again.
 */
static int
lws_win_gather(struct lws_context *context, struct lws_context_per_thread *pt,
	       int n, WSAEVENT event)
{
	WSANETWORKEVENTS networkevents;
	struct lws_pollfd *pfd = &pt->fds[n];
	struct lws *wsi;
	unsigned int err;

	if (pfd->fd == LWS_SOCK_INVALID) {
		/* nobody to ask: the event must not wake the wait again */
		if (event)
			WSAResetEvent(event);
		return 0;
	}

	if (WSAEnumNetworkEvents(pfd->fd, event, &networkevents) ==
						SOCKET_ERROR) {
		/* a socket Winsock no longer knows: close its wsi */
		pfd->revents |= LWS_POLLHUP;
		return 0;
	}
	if (!networkevents.lNetworkEvents)
		return 0;

	pfd->revents |= (short)networkevents.lNetworkEvents;

	/* writable again after being choked */
	if (networkevents.lNetworkEvents & FD_WRITE)
		pfd->write_blocked = 0;

	wsi = wsi_from_fd(context, pfd->fd);

	err = networkevents.iErrorCode[FD_CONNECT_BIT];
	if ((networkevents.lNetworkEvents & FD_CONNECT) &&
	    wsi && !wsi->udp) {
		lwsl_debug("%s: FD_CONNECT: %p\n", __func__, wsi);
		pfd->revents &= ~LWS_POLLOUT;
		if (err && err != LWS_EALREADY &&
		    err != LWS_EINPROGRESS &&
		    err != LWS_EWOULDBLOCK &&
		    err != WSAEINVAL) {
			lwsl_debug("Unable to connect errno=%d\n", err);

			/*
			 * the connection has definitively failed... but
			 * do we have more DNS entries to try?
			 */
			if (wsi->dns_results_next) {
				lws_sul_schedule(context, 0,
					&wsi->sul_connect_timeout,
					lws_client_conn_wait_timeout, 1);
				pfd->revents = 0;
				return 0;
			}
			pfd->revents |= LWS_POLLHUP;
		} else
			/*
			 * This may close the wsi and move another pfd
			 * into this slot: look at the slot again.
			 */
			if (lws_client_connect_3_connect(wsi, NULL,
					NULL, LWS_CONNECT_COMPLETION_GOOD,
					NULL) == NULL)
				return 1;
	}

	if ((pfd->revents & LWS_POLLOUT) && wsi)
		wsi->sock_send_blocking = 0;

	/*
	 * On windows is somehow necessary to "acknowledge" the
	 * POLLIN event, otherwise we never receive another one
	 * on the TCP connection.  But it breaks UDP, so only
	 * do it on non-UDP.
	 */
	if (wsi && !wsi->udp)
		recv(pfd->fd, NULL, 0, 0);

	return 0;
}

int
_lws_plat_service_tsi(struct lws_context *context, int timeout_ms, int tsi)
{
	/*
	 * The library's wait, with the sockets' events of
	 * lws_windows_fds.c: a wake reads what the socket whose own event
	 * fired recorded, or, for the shared event, what every socket past
	 * the slots with events of their own recorded; then everyone with
	 * something is serviced.
	 */
	WSAEVENT handles[WSA_MAXIMUM_WAIT_EVENTS];
	int slots[WSA_MAXIMUM_WAIT_EVENTS];
	struct lws_context_per_thread *pt;
	static int start;
	struct lws_pollfd *pfd;
	lws_usec_t timeout_us;
	int n, own, count;
	struct lws *wsi;
	unsigned int i;
	DWORD ev;

	/* stay dead once we are dead */
	if (context == NULL)
		return 1;

	pt = &context->pt[tsi];

	if (!pt->service_tid_detected && context->vhost_list) {
		lws_fakewsi_def_plwsa(pt);

		lws_fakewsi_prep_plwsa_ctx(context);

		pt->service_tid = context->vhost_list->
			protocols[0].callback((struct lws *)plwsa,
					LWS_CALLBACK_GET_THREAD_ID,
						  NULL, NULL, 0);
		pt->service_tid_detected = 1;
	}

	if (timeout_ms < 0)
		timeout_ms = 0;
	else
		/* force a default timeout of 23 days */
		timeout_ms = 2000000000;
	timeout_us = ((lws_usec_t)timeout_ms) * LWS_US_PER_MS;

	if (context->event_loop_ops->run_pt)
		context->event_loop_ops->run_pt(context, tsi);

	for (i = 0; i < pt->fds_count; ++i) {
		pfd = &pt->fds[i];

		if (!(pfd->events & LWS_POLLOUT))
			continue;

		wsi = wsi_from_fd(context, pfd->fd);
		if (!wsi || wsi->listener)
			continue;
		if (wsi->sock_send_blocking)
			continue;
		pfd->revents = LWS_POLLOUT;
		n = lws_service_fd(context, pfd);
		if (n < 0)
			return -1;

		/*
		 * Force WSAWaitForMultipleEvents() to check events
		 * and then return immediately.
		 */
		timeout_us = 0;

		/* if something closed, retry this slot */
		if (n)
			i--;
	}

	/*
	 * service pending callbacks and get maximum wait time
	 */
	{
		lws_usec_t us;

		lws_pt_lock(pt, __func__);
		/* don't stay in poll wait longer than next hr timeout */
		us = __lws_sul_service_ripe(pt->pt_sul_owner,
					    LWS_COUNT_PT_SUL_OWNERS,
					    lws_now_usecs());
		if (us && us < timeout_us)
			timeout_us = us;

		lws_pt_unlock(pt);
	}

	if (_lws_plat_service_forced_tsi(context, tsi))
		timeout_us = 0;

	/*
	 * is there anybody with pending stuff that needs service forcing?
	 */

	if (!lws_service_adjust_timeout(context, 1, tsi))
		timeout_us = 0;

	/*
	 * WSA cannot tell us about POLLOUT from the wait: if anyone wants
	 * POLLOUT and is not blocked for it, do not wait, but still look at
	 * the sockets' events below.
	 */

	for (n = 0; n < (int)pt->fds_count; n++)
		if (pt->fds[n].fd != LWS_SOCK_INVALID &&
		    pt->fds[n].events & LWS_POLLOUT &&
		    !pt->fds[n].write_blocked) {
			timeout_us = 0;
			break;
		}

	/*
	 * The cancel event first, then the slots' own events from the one after
	 * the last that woke us, so that a busy socket cannot starve the
	 * others, then the shared one.
	 */
	own = pt->fds_count < LWS_WIN_OWN_EVENTS ? (int)pt->fds_count :
							LWS_WIN_OWN_EVENTS;
	handles[0] = pt->events[0];
	count = 1;
	for (n = 0; n < own; n++) {
		slots[count] = (start + n) % own;
		handles[count] = pt->events[slots[count] + 1];
		count++;
	}
	if ((int)pt->fds_count > LWS_WIN_OWN_EVENTS) {
		slots[count] = -1;
		handles[count++] = pt->events[WSA_MAXIMUM_WAIT_EVENTS - 1];
	}

	ev = WSAWaitForMultipleEvents(count, handles, FALSE,
				      (DWORD)(timeout_us / LWS_US_PER_MS),
				      FALSE);

	if (ev == WSA_WAIT_EVENT_0) {
		/*
		 * The cancel event. Lock the event reset so we are definitely
		 * clearing it while we try to clear it. The sockets' events, if
		 * set too, stay set for the next wait.
		 */
		EnterCriticalSection(&pt->interrupt_lock);
		WSAResetEvent(pt->events[0]);
		LeaveCriticalSection(&pt->interrupt_lock);
		lws_broadcast(pt, LWS_CALLBACK_EVENT_WAIT_CANCELLED, NULL, 0);

		return 0;
	}

	if (ev > WSA_WAIT_EVENT_0 && ev < WSA_WAIT_EVENT_0 + count) {
		n = slots[ev - WSA_WAIT_EVENT_0];
		if (n >= 0) {
			/* a slot's own event: what that socket recorded */
			start = n + 1;
			lws_win_gather(context, pt, n, pt->events[n + 1]);
		} else {
			/*
			 * The shared event, reset before the sockets' records
			 * are read: one recorded meanwhile sets it again.
			 */
			WSAResetEvent(pt->events[WSA_MAXIMUM_WAIT_EVENTS - 1]);
			for (n = LWS_WIN_OWN_EVENTS; n < (int)pt->fds_count; n++)
				if (lws_win_gather(context, pt, n, NULL))
					n--;
		}
	} else if (ev != WSA_WAIT_TIMEOUT)
		/* some kind of error */
		return 0;

	/*
	 * POLLOUT for any fds that can
	 */

	for (n = 0; n < (int)pt->fds_count; n++)
		if (pt->fds[n].fd != LWS_SOCK_INVALID &&
		    pt->fds[n].events & LWS_POLLOUT &&
		    !pt->fds[n].write_blocked) {
			struct timeval tv;
			fd_set se;

			/*
			 * We have to check if it is blocked...
			 * if not, do the POLLOUT handling
			 */

			FD_ZERO(&se);
			FD_SET(pt->fds[n].fd, &se);
			tv.tv_sec = tv.tv_usec = 0;
			if (select(1, NULL, &se, NULL, &tv) != 1)
				pt->fds[n].write_blocked = 1;
			else
				pt->fds[n].revents |= LWS_POLLOUT;
		}

	/* everyone with revents, TLS buffered reads too */
	if (_lws_plat_service_forced_tsi(context, tsi) < 0)
		return -1;

	return 0;
}

