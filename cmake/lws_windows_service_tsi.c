extern void lws_client_conn_wait_timeout(lws_sorted_usec_list_t *sul);

int
_lws_plat_service_tsi(struct lws_context *context, int timeout_ms, int tsi)
{
	/*
	 * This wait replaces the library's own (see
	 * lws_windows_event_loop.cmake). Every socket is selected onto one
	 * event, pt->events[1]; pt->events[0] is the cancel event. A wake
	 * reads every socket's network events, so a socket's place in
	 * pt->fds, which changes whenever another one is removed, no longer
	 * decides whether it is heard, and there is no limit of 63 sockets.
	 */
	struct lws_context_per_thread *pt;
	WSANETWORKEVENTS networkevents;
	struct lws_pollfd *pfd;
	lws_usec_t timeout_us;
	struct lws *wsi;
	unsigned int i;
	DWORD ev;
	int n;

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

	ev = WSAWaitForMultipleEvents(2, pt->events, FALSE,
				      (DWORD)(timeout_us / LWS_US_PER_MS),
				      FALSE);

	if (ev == WSA_WAIT_EVENT_0) {
		/*
		 * The cancel event. Lock the event reset so we are definitely
		 * clearing it while we try to clear it. The sockets' event, if
		 * it is set too, stays set for the next wait.
		 */
		EnterCriticalSection(&pt->interrupt_lock);
		WSAResetEvent(pt->events[0]);
		LeaveCriticalSection(&pt->interrupt_lock);
		lws_broadcast(pt, LWS_CALLBACK_EVENT_WAIT_CANCELLED, NULL, 0);

		return 0;
	}

	if (ev != WSA_WAIT_EVENT_0 + 1 && ev != WSA_WAIT_TIMEOUT)
		/* some kind of error */
		return 0;

	/*
	 * Reset the sockets' event before reading their records: a network
	 * event recorded while they are read sets it again, and is heard at
	 * the next wait, not lost.
	 */
	WSAResetEvent(pt->events[1]);

	/*
	 * First gather what every socket has recorded into its revents, then
	 * service them all: servicing one may close others and move the last
	 * pfd into a slot already passed, and its revents move with it.
	 */
	for (n = 0; n < (int)pt->fds_count; n++) {
		unsigned int err;

		pfd = &pt->fds[n];
		if (pfd->fd == LWS_SOCK_INVALID)
			continue;

		if (WSAEnumNetworkEvents(pfd->fd, NULL, &networkevents) ==
							SOCKET_ERROR) {
			/* a socket Winsock no longer knows: close its wsi */
			pfd->revents |= LWS_POLLHUP;
			continue;
		}
		if (!networkevents.lNetworkEvents)
			continue;

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
					continue;
				}
				pfd->revents |= LWS_POLLHUP;
			} else
				/*
				 * This may close the wsi and move another pfd
				 * into this slot: look at the slot again.
				 */
				if (lws_client_connect_3_connect(wsi, NULL,
						NULL, LWS_CONNECT_COMPLETION_GOOD,
						NULL) == NULL) {
					n--;
					continue;
				}
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
	}

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

